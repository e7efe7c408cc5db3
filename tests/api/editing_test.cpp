// SPDX-License-Identifier: MIT
// Growing the tree: CreateNode and both AppendChildNode overloads, with the
// messages they write to standard output.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/com/alloc_hooks.h"
#include "support/fake_dom.h"
#include "support/private_access.h"
#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::test::CapturedOutput;
using xmlutil::test::TempDir;

std::wstring XmlOf(CXMLUtil& util, CComPtr<IXMLDOMNode> node = CComPtr<IXMLDOMNode>()) {
    std::wstring xml;
    EXPECT_HR(util.GetXML(xml, node), S_OK);
    return xml;
}

CComPtr<IXMLDOMNode> Root(CXMLUtil& util) {
    CComPtr<IXMLDOMNode> root;
    EXPECT_HR(util.GetRootNode(root), S_OK);
    return root;
}

HRESULT Recorded(const CXMLUtil& util) {
    return CXMLUtilTestAccess::RecordedResult(util);
}

TEST(AppendChildNodeByName, BuildsADocumentFromNothing) {
    CXMLUtil util;
    CapturedOutput out(1);
    CComPtr<IXMLDOMNode> root = util.AppendChildNode(CComPtr<IXMLDOMNode>(), L"Root", L"");
    ASSERT_NE(root, nullptr);
    CComPtr<IXMLDOMNode> item = util.AppendChildNode(root, L"Item", L"first");
    ASSERT_NE(item, nullptr);
    CComPtr<IXMLDOMNode> empty = util.AppendChildNode(root, L"Empty", L"");
    ASSERT_NE(empty, nullptr);
    // Only the part of the value before an embedded NUL becomes the text.
    ASSERT_NE(util.AppendChildNode(root, L"Cut", std::wstring(L"ab\0cd", 5)), nullptr);
    EXPECT_EQ(util.IsError(), 0);
    EXPECT_EQ(out.Finish(), "");

    EXPECT_EQ(XmlOf(util, root), L"<Root><Item>first</Item><Empty/><Cut>ab</Cut></Root>");
    // The returned handle is the node in the tree, not a detached copy.
    EXPECT_TRUE(root.IsEqualObject(Root(util)));
    EXPECT_HR(util.SetNodeValue(item, L"changed"), S_OK);
    EXPECT_EQ(XmlOf(util, root), L"<Root><Item>changed</Item><Empty/><Cut>ab</Cut></Root>");
}

TEST(AppendChildNodeByName, InvalidNamesPrintBothMessagesCreateFirst) {
    for (const std::wstring name : {L"", L"1abc", L"a b", L"<x>"}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        CXMLUtil util;
        ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
        CapturedOutput out(1);
        CComPtr<IXMLDOMNode> added = util.AppendChildNode(Root(util), name, L"v");
        const std::string printed = out.Finish();
        EXPECT_EQ(added, nullptr);
        std::string narrow(name.begin(), name.end());
        EXPECT_EQ(printed,
                  "create Node:" + narrow + " failed!\nappend Node:" + narrow + " failed!\n");
        EXPECT_EQ(util.IsError(), 1);
        EXPECT_LT(Recorded(util), 0);
        EXPECT_EQ(XmlOf(util), L"<r/>\n");
    }
}

TEST(AppendChildNodeByName, MessagesAreUtf8BytesAndLeaveStdoutNarrow) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
    CapturedOutput out(1);
    // U+00E9, U+4E2D and U+1F600, with a space that makes the name invalid.
    EXPECT_EQ(util.AppendChildNode(Root(util), L"\u00e9\u4e2d \U0001F600", L""), nullptr);
    // The caller's own narrow output still works after the library printed.
    std::printf("|caller|");
    EXPECT_EQ(out.Finish(),
              "create Node:\xC3\xA9\xE4\xB8\xAD \xF0\x9F\x98\x80 failed!\n"
              "append Node:\xC3\xA9\xE4\xB8\xAD \xF0\x9F\x98\x80 failed!\n|caller|");
    EXPECT_LE(std::fwide(stdout, 0), 0);
}

// Output a caller has not started yet stays unoriented, and a caller that
// writes wide text still sees the messages: run in a child whose standard
// output is a fresh file.
std::string PrintedByChild(TempDir& dir, const char* name, bool callerWritesWideFirst) {
    const std::string file = dir.File(name);
    EXPECT_EXIT(
        {
            if (std::freopen(file.c_str(), "w", stdout) == nullptr) std::_Exit(3);
            std::setlocale(LC_CTYPE, "C.UTF-8");
            if (callerWritesWideFirst) std::wprintf(L"[\u4e2d]");
            CXMLUtil util;
            util.LoadXML(L"<r/>");
            CComPtr<IXMLDOMNode> root;
            util.GetRootNode(root);
            util.AppendChildNode(root, L"\u00e9 x", L"");
            const bool unoriented = std::fwide(stdout, 0) == 0;
            std::wprintf(L"|caller \u4e2d|");
            std::fflush(stdout);
            std::_Exit(callerWritesWideFirst || unoriented ? 0 : 4);
        },
        testing::ExitedWithCode(0), "");
    return xmlutil::test::ReadFileBytes(file);
}

TEST(AppendChildNodeByName, MessagesKeepToTheOrientationTheCallerGaveStdout) {
    TempDir dir;
    const std::string messages = "create Node:\xC3\xA9 x failed!\nappend Node:\xC3\xA9 x failed!\n";
    EXPECT_EQ(PrintedByChild(dir, "unoriented.txt", false), messages + "|caller \xE4\xB8\xAD|");
    EXPECT_EQ(PrintedByChild(dir, "wide.txt", true),
              "[\xE4\xB8\xAD]" + messages + "|caller \xE4\xB8\xAD|");
}

TEST(AppendChildNodeByName, SecondTopLevelElementPrintsOnlyTheAppendMessage) {
    CXMLUtil util;
    ASSERT_NE(util.AppendChildNode(CComPtr<IXMLDOMNode>(), L"Root", L""), nullptr);
    CapturedOutput out(1);
    EXPECT_EQ(util.AppendChildNode(CComPtr<IXMLDOMNode>(), L"Second", L"x"), nullptr);
    EXPECT_EQ(out.Finish(), "append Node:Second failed!\n");
    EXPECT_EQ(util.IsError(), 1);
    EXPECT_EQ(XmlOf(util), L"<Root/>\n");
}

TEST(AppendChildNodeByName, PrefixMustBeDeclaredWhereTheElementLands) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r xmlns:p=\"urn:p\"><inner/></r>"), S_OK);
    CComPtr<IXMLDOMNode> inner;
    ASSERT_HR(util.GetSingleNode(L"/r/inner", inner), S_OK);
    {
        CapturedOutput out(1);
        CComPtr<IXMLDOMNode> added = util.AppendChildNode(inner, L"p:item", L"t");
        ASSERT_NE(added, nullptr);
        EXPECT_EQ(out.Finish(), "");
        EXPECT_EQ(util.IsError(), 0);
    }
    // The file written from this tree must load again, so an undeclared
    // prefix is refused at the append, with its message.
    CapturedOutput out(1);
    EXPECT_EQ(util.AppendChildNode(inner, L"q:item", L"t"), nullptr);
    EXPECT_EQ(out.Finish(), "append Node:q:item failed!\n");
    EXPECT_EQ(util.IsError(), 1);
    std::wstring reloaded = XmlOf(util);
    CXMLUtil again;
    EXPECT_HR(again.LoadXML(reloaded.c_str()), S_OK);
    EXPECT_EQ(XmlOf(again), reloaded);
}

TEST(AppendChildNodeByName, TextXmlCannotHoldIsRecordedAndTheElementStillReturned) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
    CapturedOutput out(1);
    CComPtr<IXMLDOMNode> added = util.AppendChildNode(Root(util), L"a", L"bell\u0007");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(util.IsError(), 1);
    EXPECT_LT(Recorded(util), 0);
    EXPECT_EQ(out.Finish(), "");
    // The element is in the tree, without the text that could not be stored.
    EXPECT_EQ(XmlOf(util), L"<r><a/></r>\n");
}

TEST(AppendChildNodeByName, OutOfMemoryForAStringLeavesTreeAndResultAsTheyWere) {
    // Long enough to be copied into allocated strings.
    const std::wstring name(80, L'n');
    const std::wstring value(80, L'v');
    for (int allowed : {0, 1}) {
        SCOPED_TRACE(allowed);
        CXMLUtil util;
        ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
        CComPtr<IXMLDOMNode> root = Root(util);
        xmlutil::com::FailStringAllocationAfter(allowed);
        HRESULT thrown = S_OK;
        try {
            util.AppendChildNode(root, name, value);
        } catch (const _com_error& e) {
            thrown = e.Error();
        }
        xmlutil::com::ClearStringAllocationFailure();
        EXPECT_EQ(thrown, E_OUTOFMEMORY);
        EXPECT_EQ(Recorded(util), S_OK);
        EXPECT_EQ(XmlOf(util), L"<r/>\n");
    }
}

// Short names and texts are handed to the document without a string
// allocation, so no shortage of string memory can stop them.
TEST(AppendChildNodeByName, ShortArgumentsNeedNoStringAllocation) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
    CComPtr<IXMLDOMNode> root = Root(util);
    xmlutil::com::FailStringAllocationAfter(0);
    CComPtr<IXMLDOMNode> added = util.AppendChildNode(root, L"name", L"value");
    const long attr = added ? util.SetNodeAttr(added, L"id", L"1") : E_FAIL;
    xmlutil::com::ClearStringAllocationFailure();
    EXPECT_NE(added, nullptr);
    EXPECT_HR(attr, S_OK);
    EXPECT_EQ(XmlOf(util), L"<r><name id=\"1\">value</name></r>\n");
}

TEST(AppendChildNodeByName, ObjectWithoutDocumentFailsWithMessages) {
    CXMLUtil util{CComPtr<IXMLDOMDocument>()};
    CapturedOutput out(1);
    EXPECT_EQ(util.AppendChildNode(CComPtr<IXMLDOMNode>(), L"Root", L""), nullptr);
    EXPECT_EQ(out.Finish(), "create Node:Root failed!\nappend Node:Root failed!\n");
    EXPECT_EQ(util.IsError(), 1);
}

TEST(CreateNode, GivesADetachedElementOfTheDocumentWithItsText) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
    CapturedOutput out(1);
    CComPtr<IXMLDOMNode> made = util.CreateNode(L"made", L"text");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(util.IsError(), 0);
    EXPECT_EQ(out.Finish(), "");
    CComPtr<IXMLDOMNode> parent;
    EXPECT_HR(made->get_parentNode(&parent), S_FALSE);
    EXPECT_EQ(parent, nullptr);
    EXPECT_EQ(XmlOf(util, made), L"<made>text</made>");
    EXPECT_EQ(XmlOf(util), L"<r/>\n");
    // It belongs to this document: appending it places that very node.
    CComPtr<IXMLDOMNode> placed;
    ASSERT_HR(Root(util)->appendChild(made, &placed), S_OK);
    EXPECT_TRUE(placed.IsEqualObject(made));
    EXPECT_EQ(XmlOf(util), L"<r><made>text</made></r>\n");
}

TEST(CreateNode, FailuresPrintTheCreateMessageOrRecordTheText) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
    {
        CapturedOutput out(1);
        EXPECT_EQ(util.CreateNode(L"2x", L"t"), nullptr);
        EXPECT_EQ(out.Finish(), "create Node:2x failed!\n");
        EXPECT_LT(Recorded(util), 0);
    }
    CapturedOutput out(1);
    CComPtr<IXMLDOMNode> made = util.CreateNode(L"ok", L"nul\u0001");
    ASSERT_NE(made, nullptr);
    EXPECT_LT(Recorded(util), 0);
    EXPECT_EQ(out.Finish(), "");
    EXPECT_EQ(XmlOf(util, made), L"<ok/>");
}

class AppendCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HR(util.LoadXML(L"<r><src a=\"1\"><kid>t</kid><!--c--></src><dst/></r>"), S_OK);
        ASSERT_HR(util.GetSingleNode(L"/r/src", src), S_OK);
        ASSERT_HR(util.GetSingleNode(L"/r/dst", dst), S_OK);
    }
    CXMLUtil util;
    CComPtr<IXMLDOMNode> src;
    CComPtr<IXMLDOMNode> dst;
};

TEST_F(AppendCopy, DeepCopiesStackUpAndTheOriginalStays) {
    CComPtr<IXMLDOMNode> first = util.AppendChildNode(dst, src, VARIANT_TRUE);
    CComPtr<IXMLDOMNode> second = util.AppendChildNode(dst, src, VARIANT_TRUE);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(first.IsEqualObject(second));
    EXPECT_FALSE(first.IsEqualObject(src));
    const std::wstring copy = L"<src a=\"1\"><kid>t</kid><!--c--></src>";
    EXPECT_EQ(XmlOf(util), L"<r>" + copy + L"<dst>" + copy + copy + L"</dst></r>\n");
    // The copies are independent of the original.
    EXPECT_HR(util.SetNodeValue(first, L"new"), S_OK);
    EXPECT_EQ(XmlOf(util, src), copy);
}

// Names, values and namespaces of the attributes of `node`, as "name=value".
std::vector<std::wstring> AttributesOf(CXMLUtil& util, const CComPtr<IXMLDOMNode>& node) {
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    EXPECT_HR(util.GetNodeAttrs(node, names, values), S_OK);
    std::vector<std::wstring> pairs;
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
        pairs.push_back(names[i] + L"=" + values[i]);
    }
    return pairs;
}

std::wstring NamespaceOf(const CComPtr<IXMLDOMNode>& node) {
    BSTR uri = nullptr;
    EXPECT_HR(node->get_namespaceURI(&uri), S_OK);
    std::wstring out = uri != nullptr ? uri : L"";
    SysFreeString(uri);
    return out;
}

// A copy (or a removed node put back) declares only what the original
// declared where the namespaces it uses are in scope where it lands; where
// they are not, it declares them, and the markup reads back the same.
TEST(AppendCopyNamespaces, CopiesDeclareOnlyWhatTheirPlaceLacks) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r xmlns='urn:d' xmlns:p='urn:p'><k a='1' p:b='2'><p:c/></k>"
                           L"<o xmlns:p='urn:other'/><e xmlns:p='urn:p'/></r>"),
              S_OK);
    CComPtr<IXMLDOMNode> root = Root(util);
    CComPtr<IXMLDOMNode> k;
    ASSERT_HR(util.GetSingleNode(L"/*/*[1]", k), S_OK);
    const std::vector<std::wstring> original = AttributesOf(util, k);
    ASSERT_EQ(original, (std::vector<std::wstring>{L"a=1", L"b=2"}));

    CComPtr<IXMLDOMNode> copy = util.AppendChildNode(root, k, VARIANT_TRUE);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(AttributesOf(util, copy), original);
    EXPECT_NE(XmlOf(util).find(L"<e xmlns:p=\"urn:p\"/><k a=\"1\" p:b=\"2\"><p:c/></k></r>"),
              std::wstring::npos)
        << XmlOf(util);
    EXPECT_EQ(NamespaceOf(copy), L"urn:d");

    // Under a different binding of p, the copy must declare its own.
    CComPtr<IXMLDOMNode> o;
    ASSERT_HR(util.GetSingleNode(L"/*/*[2]", o), S_OK);
    CComPtr<IXMLDOMNode> underOther = util.AppendChildNode(o, k, VARIANT_TRUE);
    ASSERT_NE(underOther, nullptr);
    EXPECT_NE(XmlOf(util).find(L"<o xmlns:p=\"urn:other\"><k xmlns:p=\"urn:p\" a=\"1\" "
                               L"p:b=\"2\"><p:c/></k></o>"),
              std::wstring::npos)
        << XmlOf(util);

    // A declaration the original made itself stays on its copy.
    CComPtr<IXMLDOMNode> e;
    ASSERT_HR(util.GetSingleNode(L"/*/*[3]", e), S_OK);
    CComPtr<IXMLDOMNode> eCopy = util.AppendChildNode(root, e, VARIANT_TRUE);
    EXPECT_NE(XmlOf(util).find(L"</k><e xmlns:p=\"urn:p\"/></r>"), std::wstring::npos)
        << XmlOf(util);

    // Into a document that declares nothing: declared on the copy.
    CXMLUtil other;
    ASSERT_HR(other.LoadXML(L"<x/>"), S_OK);
    CComPtr<IXMLDOMNode> abroad = other.AppendChildNode(Root(other), k, VARIANT_TRUE);
    ASSERT_NE(abroad, nullptr);
    EXPECT_EQ(XmlOf(other),
              L"<x><k xmlns=\"urn:d\" xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\"><p:c/></k></x>\n");

    // Removed and put back: as it was.
    ASSERT_HR(util.RemoveNode(k), S_OK);
    CComPtr<IXMLDOMNode> back;
    ASSERT_HR(root->appendChild(k, &back), S_OK);
    EXPECT_EQ(AttributesOf(util, k), original);

    // Whatever was dropped, the saved markup reads back in the same namespaces.
    for (CXMLUtil* doc : {&util, &other}) {
        std::wstring xml;
        ASSERT_HR(doc->GetXML(xml), S_OK);
        CXMLUtil reloaded;
        ASSERT_HR(reloaded.LoadXML(xml.c_str()), S_OK);
        std::vector<CComPtr<IXMLDOMNode>> before;
        std::vector<CComPtr<IXMLDOMNode>> after;
        ASSERT_HR(doc->GetNodes(L"//* | //@*", before), S_OK);
        ASSERT_HR(reloaded.GetNodes(L"//* | //@*", after), S_OK);
        ASSERT_EQ(before.size(), after.size()) << xml;
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(NamespaceOf(before[i]), NamespaceOf(after[i])) << xml << " #" << i;
        }
    }
}

TEST_F(AppendCopy, ShallowCopyKeepsAttributesButNoChildren) {
    CComPtr<IXMLDOMNode> copy = util.AppendChildNode(dst, src, VARIANT_FALSE);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(XmlOf(util, dst), L"<dst><src a=\"1\"/></dst>");
}

TEST_F(AppendCopy, EmptyNodeLeavesTheRecordedResultAlone) {
    EXPECT_EQ(util.AppendChildNode(dst, CComPtr<IXMLDOMNode>(), VARIANT_TRUE), nullptr);
    EXPECT_EQ(util.IsError(), 0);
    CComPtr<IXMLDOMNode> none;
    EXPECT_HR(util.GetSingleNode(L"/nothing", none), S_FALSE);
    EXPECT_EQ(util.AppendChildNode(dst, CComPtr<IXMLDOMNode>(), VARIANT_TRUE), nullptr);
    EXPECT_EQ(Recorded(util), S_FALSE);
}

TEST_F(AppendCopy, RefusedAppendIsSilentAndReturnsEmpty) {
    CapturedOutput out(1);
    // An empty parent means the document, which already has its element.
    EXPECT_EQ(util.AppendChildNode(CComPtr<IXMLDOMNode>(), src, VARIANT_TRUE), nullptr);
    EXPECT_EQ(out.Finish(), "");
    EXPECT_LT(Recorded(util), 0);
    EXPECT_EQ(XmlOf(util), L"<r><src a=\"1\"><kid>t</kid><!--c--></src><dst/></r>\n");
}

TEST_F(AppendCopy, CopyFromAnotherDocumentOutlivesIt) {
    CComPtr<IXMLDOMNode> copy;
    {
        CXMLUtil other;
        ASSERT_HR(other.LoadXML(L"<o><p q=\"w\">deep<i/></p></o>"), S_OK);
        CComPtr<IXMLDOMNode> p;
        ASSERT_HR(other.GetSingleNode(L"/o/p", p), S_OK);
        copy = util.AppendChildNode(dst, p, VARIANT_TRUE);
        ASSERT_NE(copy, nullptr);
    }
    EXPECT_EQ(XmlOf(util, dst), L"<dst><p q=\"w\">deep<i/></p></dst>");
    CComPtr<IXMLDOMDocument> owner;
    ASSERT_HR(copy->get_ownerDocument(&owner), S_OK);
    EXPECT_TRUE(owner.IsEqualObject(CXMLUtilTestAccess::Document(util)));
}

TEST_F(AppendCopy, FailedCopyPrintsFunctionAndLineWithoutLineEnd) {
    // A scripted node answers E_NOTIMPL to cloneNode.
    fake_dom::Node uncopyable;
    {
        CapturedOutput out(1);
        EXPECT_EQ(util.AppendChildNode(dst, CComPtr<IXMLDOMNode>(&uncopyable), VARIANT_TRUE),
                  nullptr);
        EXPECT_EQ(out.Finish(), "CXMLUtil::AppendChildNode:449");
    }
    EXPECT_EQ(Recorded(util), E_NOTIMPL);
    EXPECT_EQ(uncopyable.refs(), 0);
    EXPECT_EQ(XmlOf(util, dst), L"<dst/>");
}

// A parent object of the caller's own that answers appendChild with S_OK
// and no node: both overloads fail with E_POINTER and an empty handle.
TEST_F(AppendCopy, ForeignParentAnsweringWithoutANodeIsAFailure) {
    struct SilentParent : fake_dom::Node {
        HRESULT appendChild(IXMLDOMNode*, IXMLDOMNode** out) override {
            if (out != nullptr) *out = nullptr;
            return S_OK;
        }
    } parent;
    CComPtr<IXMLDOMNode> foreign(&parent);
    {
        CapturedOutput out(1);
        EXPECT_EQ(util.AppendChildNode(foreign, L"Item", L"v"), nullptr);
        EXPECT_EQ(out.Finish(), "append Node:Item failed!\n");
    }
    EXPECT_EQ(Recorded(util), E_POINTER);
    CComPtr<IXMLDOMNode> root;
    EXPECT_HR(util.GetSingleNode(L"/r", root), S_OK);  // records S_OK again
    EXPECT_EQ(util.AppendChildNode(foreign, src, VARIANT_TRUE), nullptr);
    EXPECT_EQ(Recorded(util), E_POINTER);
    foreign.Release();
    EXPECT_EQ(parent.refs(), 0);
}

}  // namespace
