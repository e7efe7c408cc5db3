// SPDX-License-Identifier: MIT
// Prefixes in path expressions: bound by SelectionNamespaces, else by the
// document's own first declaration. Checked against libxml2 with the same
// namespaces registered, on generated namespaced documents, through both
// selectNodes and CXMLUtil::GetNodes.
#include <gtest/gtest.h>
#include <libxml/xpathInternals.h>

#include <random>
#include <string>
#include <vector>

#include "platform/xmldom/dom_node.h"
#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/error_guard.h"
#include "support/dom_test_util.h"
#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"

namespace xmlutil::xmldom {
namespace {

using test::Widen;
using test::dom::Arg;
using test::dom::StringValue;

xmlNode* XmlOf(IUnknown* object) {
    DomNode* node = object == nullptr ? nullptr : AsDomNode(object);
    return node == nullptr ? nullptr : node->XmlNode();
}

// libxml2's own answer with `bindings` registered; nothing when it fails.
std::optional<std::vector<xmlNode*>> Libxml2Answer(
    xmlDoc* doc, const std::string& expression,
    const std::vector<std::pair<std::string, std::string>>& bindings) {
    ErrorSilencer silence;
    XmlXPathContextPtr ctx(xmlXPathNewContext(doc));
    ctx->error = IgnoreStructuredError;
    for (const auto& [prefix, uri] : bindings) {
        xmlXPathRegisterNs(ctx.get(), ToXml(prefix.c_str()), ToXml(uri.c_str()));
    }
    XmlXPathObjectPtr result(xmlXPathEvalExpression(ToXml(expression.c_str()), ctx.get()));
    if (result == nullptr || result->type != XPATH_NODESET) return std::nullopt;
    std::vector<xmlNode*> nodes;
    if (xmlNodeSet* set = result->nodesetval; set != nullptr) {
        xmlXPathNodeSetSort(set);
        nodes.assign(set->nodeTab, set->nodeTab + set->nodeNr);
    }
    return nodes;
}

// A document whose Menu and x elements are named every way that reaches
// urn:a and urn:b (the prefixes p and q, other prefixes, the default
// namespace) and some ways that do not; with `conflicting`, p or q is also
// declared for another namespace further down.
class Generator {
  public:
    Generator(unsigned seed, bool conflicting) : rng_(seed), conflicting_(conflicting) {}

    std::string Document() {
        std::string xml = Pick({"<p:Root xmlns:p='urn:a' xmlns:q='urn:b'>",
                                "<Root xmlns='urn:a' xmlns:p='urn:a' xmlns:q='urn:b'>"});
        const bool prefixed = xml[1] == 'p';
        for (int i = Count(4); i > 0; --i) xml += Menu();
        return xml + (prefixed ? "</p:Root>" : "</Root>");
    }

  private:
    std::string Menu() {
        std::vector<std::string> opens = {"<p:Menu>", "<Menu>", "<r:Menu xmlns:r='urn:a'>",
                                          "<Menu xmlns=''>"};
        if (conflicting_) opens.push_back("<p:Menu xmlns:p='urn:c'>");
        const std::string open = Pick(opens);
        const std::string name = open.substr(1, open.find_first_of(" >") - 1);
        std::string xml = open;
        for (int i = Count(3); i > 0; --i) xml += X(2);
        return xml + "</" + name + ">";
    }

    std::string X(int depth) {
        std::vector<std::string> forms = {"<q:x", "<x", "<y:x xmlns:y='urn:b'", "<x xmlns='urn:b'"};
        if (conflicting_) forms.push_back("<q:x xmlns:q='urn:d'");
        const std::string open = Pick(forms);
        const std::string name = open.substr(
            1, open.find(' ') == std::string::npos ? std::string::npos : open.find(' ') - 1);
        if (depth == 0 || Count(1) == 0) return open + "/>";
        return open + ">" + X(depth - 1) + "</" + name + ">";
    }

    int Count(int most) { return std::uniform_int_distribution<int>(0, most)(rng_); }
    std::string Pick(const std::vector<std::string>& options) {
        return options[static_cast<size_t>(Count(static_cast<int>(options.size()) - 1))];
    }

    std::mt19937 rng_;
    bool conflicting_;
};

const char* const kExpressions[] = {"/p:Root/p:Menu", "//q:x", "/p:Root/p:Menu/q:x | //p:Menu"};

// Our answer through selectNodes and through CXMLUtil::GetNodes, which must agree.
std::optional<std::vector<xmlNode*>> OurAnswer(CXMLUtil& util, const std::string& expression) {
    CComPtr<IXMLDOMNodeList> list;
    const HRESULT hr = util.GetDomDocument()->selectNodes(Arg(Widen(expression)), &list);
    std::vector<CComPtr<IXMLDOMNode>> viaUtil;
    EXPECT_EQ(util.GetNodes(Widen(expression), viaUtil, nullptr), hr) << expression;
    if (hr != S_OK) {
        EXPECT_EQ(hr, E_FAIL);
        return std::nullopt;
    }
    std::vector<xmlNode*> nodes;
    long length = 0;
    list->get_length(&length);
    for (long i = 0; i < length; ++i) {
        CComPtr<IXMLDOMNode> node;
        list->get_item(i, &node);
        nodes.push_back(XmlOf(node));
    }
    std::vector<xmlNode*> utilNodes;
    for (const auto& node : viaUtil) utilNodes.push_back(XmlOf(node));
    EXPECT_EQ(utilNodes, nodes) << expression;
    return nodes;
}

xmlDoc* DocOf(CXMLUtil& util) {
    return XmlOf(util.GetDomDocument())->doc;
}

TEST(SelectionNamespaces, BoundPrefixesSelectWhatLibxml2Selects) {
    size_t matched = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        Generator generate(seed, seed % 2 == 0);
        const std::string xml = generate.Document();
        CXMLUtil util;
        ASSERT_EQ(util.LoadXML(Widen(xml).c_str()), S_OK) << xml;
        CComPtr<IXMLDOMDocument2> doc2;
        ASSERT_EQ(util.GetDomDocument().QueryInterface(&doc2), S_OK);
        // Prefixes of the caller's own, which the document does not use.
        ASSERT_EQ(doc2->setProperty(Arg(L"SelectionNamespaces"),
                                    StringValue(L"xmlns:m='urn:a'  xmlns:n=\"urn:b\"")),
                  S_OK);
        for (std::string expression : kExpressions) {
            for (char& c : expression) c = c == 'p' ? 'm' : c == 'q' ? 'n' : c;
            const auto expected =
                Libxml2Answer(DocOf(util), expression, {{"m", "urn:a"}, {"n", "urn:b"}});
            const auto ours = OurAnswer(util, expression);
            EXPECT_EQ(ours, expected) << expression << "\n" << xml;
            if (ours) matched += ours->size();
        }
    }
    EXPECT_GT(matched, 100u);  // the generated documents are not all misses
}

TEST(SelectionNamespaces, DocumentPrefixesResolveToTheFirstDeclarationOrFail) {
    size_t compared = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        Generator generate(seed, seed % 2 == 0);
        const std::string xml = generate.Document();
        CXMLUtil util;
        ASSERT_EQ(util.LoadXML(Widen(xml).c_str()), S_OK) << xml;
        // A conflicting declaration leaves the prefix unsettled: E_FAIL.
        const bool pAmbiguous = xml.find("xmlns:p='urn:c'") != std::string::npos;
        const bool qAmbiguous = xml.find("xmlns:q='urn:d'") != std::string::npos;
        for (const std::string expression : kExpressions) {
            const bool usesP = expression.find("p:") != std::string::npos;
            const bool usesQ = expression.find("q:") != std::string::npos;
            const auto ours = OurAnswer(util, expression);
            if ((usesP && pAmbiguous) || (usesQ && qAmbiguous)) {
                EXPECT_EQ(ours, std::nullopt) << expression << "\n" << xml;
                continue;
            }
            EXPECT_EQ(ours,
                      Libxml2Answer(DocOf(util), expression, {{"p", "urn:a"}, {"q", "urn:b"}}))
                << expression << "\n"
                << xml;
            compared += ours ? ours->size() : 0;
        }
    }
    EXPECT_GT(compared, 50u);  // enough unambiguous cases, not all misses
}

}  // namespace
}  // namespace xmlutil::xmldom
