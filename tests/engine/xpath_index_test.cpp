// SPDX-License-Identifier: MIT
// The attribute-lookup index of the XPath evaluator: which expressions it
// takes, that it really answers repeated lookups and forgets them on a
// change, and a differential run: random documents edited at random through
// CXMLUtil, every lookup (and every `//name` selection, which the evaluator
// answers by walking the tree) answered by the library compared with
// libxml2's own evaluation of the same expression on the same tree.
#include "platform/xmldom/engine/xpath_index.h"

#include <gtest/gtest.h>
#include <libxml/xpathInternals.h>

#include <random>
#include <string>
#include <vector>

#include "platform/xmldom/dom_node.h"
#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/error_guard.h"
#include "xmlutil/XMLUtil.h"

namespace {

using namespace xmlutil::xmldom;
using NodeList = std::vector<CComPtr<IXMLDOMNode>>;

// ---- which expressions the index takes --------------------------------------------

TEST(AttributeLookupShape, TakesChildPathsWithOneAttributeEqualityAtTheEnd) {
    struct Case {
        const char* expression;
        const char* elements;
        const char* attribute;
        const char* value;
    };
    const Case taken[] = {
        {"/Root/Menu/Item[@id='K7']", "/Root/Menu/Item", "id", "K7"},
        {"/Root/Menu/Item[@id=\"K'7\"]", "/Root/Menu/Item", "id", "K'7"},
        {"//Item[@name='']", "//Item", "name", ""},
        {"/a//b.c/d-e[ @_x = ' v  w ' ]", "/a//b.c/d-e", "_x", " v  w "},
        {"/r[@id='[]/@=']", "/r", "id", "[]/@="},
    };
    for (const Case& c : taken) {
        SCOPED_TRACE(c.expression);
        const auto lookup = ParseAttributeLookup(c.expression);
        ASSERT_TRUE(lookup.has_value());
        EXPECT_EQ(lookup->elements, c.elements);
        EXPECT_EQ(lookup->attribute, c.attribute);
        EXPECT_EQ(lookup->value, c.value);
    }
}

TEST(AttributeLookupShape, LeavesEveryOtherExpressionToLibxml2) {
    const char* const refused[] = {
        "Root/Menu/Item[@id='K7']",           // relative
        "/Root/Menu/Item",                    // no predicate
        "/Root/Menu/Item[@id='K7'][1]",       // a second predicate
        "/Root/Menu[@id='m']/Item",           // predicate not on the last step
        "/Root/Menu/Item[@id=7]",             // a number, compared as a number
        "/Root/Menu/Item[@id!='K7']",         // another operator
        "/Root/Menu/Item[@p:id='K7']",        // a prefixed attribute
        "/p:Root/Item[@id='K7']",             // a prefixed element
        "/Root/*[@id='K7']",                  // a wildcard
        "/Root/Menu/Item[@id='K7'",           // unterminated
        "/Root/Menu/Item[@id='K7]",           // unterminated literal
        "/Root/Menu/Item[@id='K7'] | /Root",  // a union
        "/Root/Menu/Item[id='K7']",           // a child element, not an attribute
        "/Root/Menu/Item[@id='a' or @id='b']",
        "/Root/text()[@id='a']",
        "/",
        "",
    };
    for (const char* expression : refused) {
        EXPECT_FALSE(ParseAttributeLookup(expression).has_value()) << expression;
    }
}

// ---- the index is used, and dropped on a change -------------------------------------

XmlDocPtr ParseOrDie(const char* xml) {
    XmlDocPtr doc(xmlReadMemory(xml, static_cast<int>(std::char_traits<char>::length(xml)), nullptr,
                                nullptr, XML_PARSE_NONET));
    if (doc == nullptr) ADD_FAILURE() << "does not parse: " << xml;
    return doc;
}

std::vector<xmlNode*> Nodes(const std::vector<XPathHit>& hits) {
    std::vector<xmlNode*> nodes;
    for (const XPathHit& hit : hits) nodes.push_back(hit.node);
    return nodes;
}

TEST(AttributeIndexUse, RepeatedLookupsComeFromTheIndexUntilTheDocumentChanges) {
    XmlDocPtr doc = ParseOrDie("<r><i id='a'/><i id='b'/><i id='a'/></r>");
    ASSERT_NE(doc, nullptr);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    xmlNode* first = root->children;
    xmlNode* third = first->next->next;
    XPathEvaluator evaluator;
    std::vector<XPathHit> hits;
    ASSERT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id='a']", false, hits), S_OK);
    EXPECT_EQ(Nodes(hits), (std::vector<xmlNode*>{first, third}));
    ASSERT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id='a']", true, hits), S_OK);
    EXPECT_EQ(Nodes(hits), std::vector<xmlNode*>{first});

    // Changed behind the evaluator's back: the answers still come from the
    // index built by the first lookup, which shows that it is used...
    xmlSetProp(first, ToXml("id"), ToXml("z"));
    ASSERT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id=\"a\"]", false, hits), S_OK);
    EXPECT_EQ(Nodes(hits), (std::vector<xmlNode*>{first, third}));
    ASSERT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id='z']", false, hits), S_OK);
    EXPECT_TRUE(hits.empty());

    // ...and once told, it answers from the tree as it is now.
    evaluator.DocumentChanged();
    ASSERT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id='z']", false, hits), S_OK);
    EXPECT_EQ(Nodes(hits), std::vector<xmlNode*>{first});
    ASSERT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id='a']", false, hits), S_OK);
    EXPECT_EQ(Nodes(hits), std::vector<xmlNode*>{third});
}

TEST(AttributeIndexUse, AnotherDocumentNeverSeesTheFirstOnesIndex) {
    XmlDocPtr one = ParseOrDie("<r><i id='a'/></r>");
    XmlDocPtr two = ParseOrDie("<r><x/><i id='a'/></r>");
    ASSERT_TRUE(one && two);
    XPathEvaluator evaluator;
    std::vector<XPathHit> hits;
    ASSERT_EQ(evaluator.Select(one.get(), nullptr, "/r/i[@id='a']", true, hits), S_OK);
    ASSERT_EQ(evaluator.Select(two.get(), nullptr, "/r/i[@id='a']", true, hits), S_OK);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].node, xmlDocGetRootElement(two.get())->children->next);
}

TEST(AttributeIndexUse, MalformedLookupsFailAndPrefixedOnesAreLibxml2s) {
    XmlDocPtr doc = ParseOrDie("<r xmlns:p='urn:p'><i p:id='a'/></r>");
    ASSERT_NE(doc, nullptr);
    XPathEvaluator evaluator;
    std::vector<XPathHit> hits;
    // A lookup of the indexed shape first, so an index exists for /r/i.
    EXPECT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id='a']", false, hits), S_OK);
    EXPECT_TRUE(hits.empty());
    // The document's own prefix: libxml2 answers, not the index of @id.
    EXPECT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@p:id='a']", false, hits), S_OK);
    EXPECT_EQ(hits.size(), 1u);
    EXPECT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@z:id='a']", false, hits), E_FAIL);
    EXPECT_EQ(evaluator.Select(doc.get(), nullptr, "/r/i[@id='a\x01']", false, hits), E_FAIL);
}

// ---- differential run ----------------------------------------------------------------

std::string Utf8(const std::wstring& wide) {
    std::string out;
    for (const wchar_t w : wide) {
        const auto c = static_cast<uint32_t>(w);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

xmlNode* XmlOf(IUnknown* object) {
    DomNode* node = object == nullptr ? nullptr : AsDomNode(object);
    return node == nullptr ? nullptr : node->XmlNode();
}

// libxml2's own answer: a fresh context, no cache, no index.
struct PlainAnswer {
    bool ok = false;
    std::vector<xmlNode*> nodes;
};

PlainAnswer EvaluatePlain(xmlDoc* doc, xmlNode* context, const std::string& expression) {
    ErrorSilencer silence;
    PlainAnswer answer;
    XmlXPathContextPtr ctx(xmlXPathNewContext(doc));
    ctx->error = IgnoreStructuredError;
    // The prefix the generated documents declare, which selections resolve.
    xmlXPathRegisterNs(ctx.get(), ToXml("p"), ToXml("urn:p"));
    ctx->node = context != nullptr ? context : reinterpret_cast<xmlNode*>(doc);
    XmlXPathObjectPtr result(xmlXPathEvalExpression(ToXml(expression.c_str()), ctx.get()));
    if (result == nullptr || result->type != XPATH_NODESET) return answer;
    answer.ok = true;
    xmlNodeSet* set = result->nodesetval;
    if (set == nullptr) return answer;
    if (set->nodeNr > 1) xmlXPathNodeSetSort(set);
    for (int i = 0; i < set->nodeNr; ++i) answer.nodes.push_back(set->nodeTab[i]);
    return answer;
}

// Values chosen to collide: duplicates, the empty value, surrounding and
// inner spaces, case, Chinese text.
const wchar_t* const kValues[] = {L"K0", L"K1",  L"K2",          L"", L" K1", L"K1 ",
                                  L"k1", L"K 1", L"\u4E2D\u6587"};
const wchar_t* const kShapes[] = {
    L"/Root/Menu/Item[@id=$]",
    L"/Root/Menu/Item[@x=$]",
    L"//Item[@id=$]",
    L"//Sub[@id=$]",
    L"/Root/Menu/Item/Sub[@id=$]",
    L"/Root/Menu[@id=$]",
    L"/Root/Menu/Item[ @id = $ ]",
    L"/Root/Item[@id=$]",
    L"/Root/Menu/Item[@p:id=$]",
    L"//Menu//Sub[@x=$]",
    L"//Item",
    L"//Sub",
    L"//Menu",
};

class Differential {
  public:
    explicit Differential(unsigned seed) : rng_(seed) {}

    void Run(int steps) {
        ASSERT_EQ(util_.LoadXML(RandomDocument().c_str()), S_OK);
        for (int step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
            if (Pick(2) == 0) {
                Query();
            } else {
                Edit();
            }
        }
    }

  private:
    size_t Pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(rng_); }
    const wchar_t* Value() { return kValues[Pick(std::size(kValues))]; }

    std::wstring Attribute(const wchar_t* name) {
        return std::wstring(L" ") + name + L"=\"" + Value() + L"\"";
    }

    std::wstring RandomItem() {
        std::wstring xml = L"<Item";
        if (Pick(10) < 8) xml += Attribute(L"id");
        if (Pick(10) < 4) xml += Attribute(L"x");
        if (Pick(10) < 3) xml += Attribute(L"p:id");
        if (Pick(10) < 2) xml += L" xmlns=\"urn:d\"";
        xml += L">";
        for (size_t s = Pick(3); s > 0; --s) {
            xml += L"<Sub" + (Pick(2) ? Attribute(L"id") : L"") + (Pick(3) ? L"" : Attribute(L"x"));
            xml += L"/>";
        }
        if (Pick(4) == 0) xml += L"text";
        return xml + L"</Item>";
    }

    std::wstring RandomDocument() {
        // Sometimes a prolog, and an entity whose content holds an element.
        const bool prolog = Pick(3) == 0;
        std::wstring xml =
            prolog ? L"<!DOCTYPE Root [<!ENTITY e \"<Sub id='K1'/>\">]><!--c--><?p?>" : L"";
        xml += L"<Root xmlns:p=\"urn:p\">";
        for (size_t m = 1 + Pick(3); m > 0; --m) {
            xml += L"<Menu" + (Pick(3) == 0 ? Attribute(L"id") : L"") + L">";
            if (prolog && Pick(2) == 0) xml += L"&e;<![CDATA[x]]>";
            for (size_t i = Pick(6); i > 0; --i) xml += RandomItem();
            xml += L"</Menu>";
        }
        if (Pick(3) == 0) xml += RandomItem();
        return xml + L"</Root>";
    }

    CComPtr<IXMLDOMNode> RandomElement() {
        NodeList all;
        util_.GetNodes(L"//*", all);
        return all.empty() ? CComPtr<IXMLDOMNode>() : all[Pick(all.size())];
    }

    void Edit() {
        CComPtr<IXMLDOMNode> target = RandomElement();
        if (!target) {
            ASSERT_EQ(util_.LoadXML(RandomDocument().c_str()), S_OK);
            return;
        }
        static const wchar_t* const kNames[] = {L"Item", L"Sub", L"Menu"};
        switch (Pick(9)) {
            case 0:
            case 1:
                util_.SetNodeAttr(target, Pick(3) ? L"id" : L"x", Value());
                break;
            case 2: {
                CComPtr<IXMLDOMNode> added =
                    util_.AppendChildNode(target, kNames[Pick(std::size(kNames))], L"");
                if (added && Pick(2)) util_.SetNodeAttr(added, L"id", Value());
                break;
            }
            case 3:
                util_.AppendChildNode(RandomElement(), target, static_cast<short>(Pick(2)));
                break;
            case 4:
                util_.RemoveNode(target);
                break;
            case 5:
                util_.SetNodeValue(target, L"replaced");
                break;
            case 6:
                util_.RemoveAllChild(target);
                break;
            case 7: {
                // An attribute changed through its own handle, or a whole list.
                NodeList attributes;
                util_.GetNodes(L"//@*", attributes);
                if (!attributes.empty() && Pick(2)) {
                    util_.SetNodeValue(attributes[Pick(attributes.size())], Value());
                } else {
                    std::vector<std::wstring> names{L"x", L"id"};
                    std::vector<std::wstring> values{Value(), Value()};
                    util_.SetNodeAttrs(target, names, values);
                }
                break;
            }
            default:
                ASSERT_EQ(util_.LoadXML(RandomDocument().c_str()), S_OK);
                break;
        }
    }

    void Query() {
        std::wstring expression = kShapes[Pick(std::size(kShapes))];
        const wchar_t quote = Pick(4) == 0 ? L'"' : L'\'';
        if (expression.find(L'$') != std::wstring::npos) {
            expression.replace(expression.find(L'$'), 1, quote + std::wstring(Value()) + quote);
        }
        const CComPtr<IXMLDOMNode> context = Pick(4) == 0 ? RandomElement() : nullptr;
        SCOPED_TRACE(Utf8(expression));

        // Asked twice, so that the second answer comes from an index built by the first.
        for (int round = 0; round < 2; ++round) {
            NodeList nodes;
            const long hrAll = util_.GetNodes(expression, nodes, context);
            CComPtr<IXMLDOMNode> single;
            const long hrOne = util_.GetSingleNode(expression, single, context);
            CComPtr<IXMLDOMDocument> document = util_.GetDomDocument();
            const auto* doc = reinterpret_cast<xmlDoc*>(XmlOf(document));
            ASSERT_NE(doc, nullptr);
            const PlainAnswer plain =
                EvaluatePlain(const_cast<xmlDoc*>(doc), XmlOf(context), Utf8(expression));
            // A prefix resolves only while the document declares it (edits
            // may remove the root that does).
            const bool undeclaredPrefix =
                expression.find(L"p:") != std::wstring::npos &&
                EvaluatePlain(const_cast<xmlDoc*>(doc), nullptr, "//namespace::p").nodes.empty();
            if (!plain.ok || undeclaredPrefix) {
                EXPECT_LT(hrAll, 0);
                EXPECT_LT(hrOne, 0);
                continue;
            }
            std::vector<xmlNode*> got;
            for (const CComPtr<IXMLDOMNode>& node : nodes) got.push_back(XmlOf(node));
            EXPECT_TRUE(hrAll == S_OK || hrAll == S_FALSE) << hrAll;
            EXPECT_EQ(got, plain.nodes);
            if (plain.nodes.empty()) {
                EXPECT_EQ(hrOne, S_FALSE);
                EXPECT_FALSE(single);
            } else {
                EXPECT_EQ(hrOne, S_OK);
                EXPECT_EQ(XmlOf(single), plain.nodes.front());
            }
        }
    }

    std::mt19937 rng_;
    CXMLUtil util_;
};

TEST(AttributeIndexDifferential, RandomEditsAndLookupsMatchLibxml2) {
    for (unsigned seed = 1; seed <= 150 && !HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Differential(seed).Run(80);
    }
}

// A large document where most lookups hit: the index answers the same as
// libxml2 for values spread through it, duplicates included.
TEST(AttributeIndexDifferential, LargeMenuLookupsMatchLibxml2) {
    std::wstring xml = L"<Root><Menu>";
    for (int i = 0; i < 3000; ++i) {
        xml += L"<Item id=\"K" + std::to_wstring(i % 2500) + L"\"><Sub id=\"K" +
               std::to_wstring(i) + L"\"/></Item>";
    }
    xml += L"</Menu></Root>";
    CXMLUtil util;
    ASSERT_EQ(util.LoadXML(xml.c_str()), S_OK);
    const auto* doc = reinterpret_cast<xmlDoc*>(XmlOf(util.GetDomDocument()));
    for (int k = 0; k < 3000; k += 7) {
        const std::wstring expression = L"/Root/Menu/Item[@id='K" + std::to_wstring(k) + L"']";
        NodeList nodes;
        util.GetNodes(expression, nodes);
        std::vector<xmlNode*> got;
        for (const CComPtr<IXMLDOMNode>& node : nodes) got.push_back(XmlOf(node));
        const PlainAnswer plain =
            EvaluatePlain(const_cast<xmlDoc*>(doc), nullptr, Utf8(expression));
        ASSERT_TRUE(plain.ok);
        EXPECT_EQ(got.size(), k < 500 ? 2u : k < 2500 ? 1u : 0u) << k;
        EXPECT_EQ(got, plain.nodes) << k;
    }
}

}  // namespace
