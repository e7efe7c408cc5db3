// SPDX-License-Identifier: MIT
// LoadMenuXml: merging the children of a menu file's /Root/Menu under a node
// of the caller's.
#include <gtest/gtest.h>

#include <string>

#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::test::CapturedOutput;

std::wstring MenuFile(const char* name) {
    const std::string path = std::string(XMLUTIL_TEST_DATA) + "/menu/" + name;
    return std::wstring(path.begin(), path.end());
}

const std::wstring kThreeItems =
    L"<Item id=\"file\"><Label>File</Label><Item id=\"open\"><Label>Open</Label></Item></Item>"
    L"<Item id=\"edit\"><Label>Edit</Label></Item>"
    L"<Item id=\"help\"><Label>Help &amp; About</Label></Item>";

// The caller's own document, with a target node that already has children.
class MenuLoading : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HR(app.LoadXML(L"<App><Bar><Existing/>text</Bar><Other/></App>"), S_OK);
        ASSERT_HR(app.GetSingleNode(L"/App/Bar", bar), S_OK);
    }
    std::wstring BarXml() {
        std::wstring xml;
        EXPECT_HR(app.GetXML(xml, bar), S_OK);
        return xml;
    }
    int Load(const char* file) { return LoadMenuXml(bar, MenuFile(file).c_str()); }

    CXMLUtil app;
    CComPtr<IXMLDOMNode> bar;
};

TEST_F(MenuLoading, ItemsLandAfterExistingChildrenInFileOrder) {
    CapturedOutput out(1);
    IXMLDOMNode* const before = bar.p;
    EXPECT_EQ(Load("three_items.xml"), 0);
    EXPECT_EQ(out.Finish(), "");
    // Only the first Menu's children; the caller's handle is not changed.
    EXPECT_EQ(bar.p, before);
    EXPECT_EQ(BarXml(), L"<Bar><Existing/>text" + kThreeItems + L"</Bar>");
    // The copies are ordinary nodes of the caller's document.
    std::wstring label;
    EXPECT_HR(app.GetNodeValue(L"/App/Bar/Item[@id='file']/Item/Label", label), S_OK);
    EXPECT_EQ(label, L"Open");
    EXPECT_EQ(app.IsError(), 0);
}

TEST_F(MenuLoading, LoadingTwiceAppendsTheEntriesTwice) {
    EXPECT_EQ(Load("three_items.xml"), 0);
    EXPECT_EQ(Load("three_items.xml"), 0);
    EXPECT_EQ(BarXml(), L"<Bar><Existing/>text" + kThreeItems + kThreeItems + L"</Bar>");
}

TEST_F(MenuLoading, FilesWithoutAUsableMenuAppendNothing) {
    const std::wstring before = BarXml();
    for (const char* file : {"lowercase_root.xml", "empty_menu.xml", "malformed.xml",
                             "nested_menu.xml", "does_not_exist.xml"}) {
        SCOPED_TRACE(file);
        CapturedOutput out(1);
        EXPECT_EQ(Load(file), 0);
        EXPECT_EQ(out.Finish(), "");
        EXPECT_EQ(BarXml(), before);
    }
}

TEST_F(MenuLoading, TextAndCommentsBetweenEntriesAreCopiedAsLoaded) {
    EXPECT_EQ(Load("mixed_content.xml"), 0);
    // Indentation alone is dropped at loading; text with content stays whole.
    EXPECT_EQ(BarXml(),
              L"<Bar><Existing/>textbefore<Item id=\"a\"/><!-- separator -->"
              L"\n  between<Item id=\"b\"/></Bar>");
}

TEST_F(MenuLoading, EmptyTargetOrNullPathChangesNothing) {
    CComPtr<IXMLDOMNode> empty;
    EXPECT_EQ(LoadMenuXml(empty, MenuFile("three_items.xml").c_str()), 0);
    EXPECT_EQ(empty, nullptr);
    const std::wstring before = BarXml();
    EXPECT_EQ(LoadMenuXml(bar, nullptr), 0);
    EXPECT_EQ(BarXml(), before);
}

TEST(MenuTarget, CopiesOutliveTheMenuAndTheTargetsDocumentObject) {
    CComPtr<IXMLDOMNode> target;
    {
        CXMLUtil owner;
        ASSERT_HR(owner.LoadXML(L"<Shell/>"), S_OK);
        ASSERT_HR(owner.GetRootNode(target), S_OK);
        EXPECT_EQ(LoadMenuXml(target, MenuFile("three_items.xml").c_str()), 0);
    }
    // The menu document and the target's document object are both gone.
    CXMLUtil reader;
    std::wstring xml;
    EXPECT_HR(reader.GetXML(xml, target), S_OK);
    EXPECT_EQ(xml, L"<Shell>" + kThreeItems + L"</Shell>");
    CXMLUtil copy(target);
    std::wstring id;
    EXPECT_HR(copy.GetNodeAttr(L"/Shell/Item[3]", L"id", id), S_OK);
    EXPECT_EQ(id, L"help");
}

TEST(MenuTarget, AnEmptyDocumentAcceptsASingleEntryAsItsElement) {
    CXMLUtil doc;
    CComPtr<IXMLDOMNode> top(doc.GetDomDocument());
    // Three elements cannot all be top-level: the first one is, the rest are
    // refused one by one and left out.
    EXPECT_EQ(LoadMenuXml(top, MenuFile("three_items.xml").c_str()), 0);
    std::wstring id;
    EXPECT_HR(doc.GetNodeAttr(L"/Item", L"id", id), S_OK);
    EXPECT_EQ(id, L"file");
    long count = 0;
    EXPECT_HR(doc.GetNodesCount(L"/*", count), S_OK);
    EXPECT_EQ(count, 1);
}

}  // namespace
