// SPDX-License-Identifier: MIT
// Documents as other parsers load them: Shift_JIS files (read and written as
// Windows code page 932), adjacent CDATA sections, and references to entities
// that are never read (of an external DTD, or declared SYSTEM or PUBLIC),
// kept as entity-reference nodes. Each loads, and saves back unchanged; a copy
// that would make a document fail to load is refused.
#include <string>
#include <vector>

#include "support/dom_test_util.h"
#include "support/test_util.h"

namespace {

using Handle = CComPtr<IXMLDOMNode>;
using xmlutil::test::ReadFileBytes;
using xmlutil::test::TempDir;
using xmlutil::test::WriteFileBytes;
using xmlutil::test::dom::NameOf;

std::wstring XmlOf(CXMLUtil& doc) {
    std::wstring xml = L"(GetXML failed)";
    doc.GetXML(xml);
    return xml;
}

// Loads `bytes` from a file, saves it, loads the saved file: the same GetXML.
void ExpectSavedBackUnchanged(const std::string& bytes, CXMLUtil& doc, const TempDir& dir) {
    WriteFileBytes(dir.File("in.xml"), bytes);
    ASSERT_HR(doc.Load(dir.WideFile("in.xml")), S_OK) << bytes;
    ASSERT_HR(doc.Save(dir.WideFile("out.xml")), S_OK);
    CXMLUtil back;
    ASSERT_HR(back.Load(dir.WideFile("out.xml")), S_OK) << ReadFileBytes(dir.File("out.xml"));
    EXPECT_EQ(XmlOf(back), XmlOf(doc)) << ReadFileBytes(dir.File("out.xml"));
}

DOMNodeType TypeOf(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    node->get_nodeType(&type);
    return type;
}

TEST(RealDocuments, ShiftJisSavesAndLoadsBackAsWindowsMeantIt) {
    TempDir dir;
    // 日本 as an element name, 報告 in an attribute, 週報 in text and a
    // comment, and 0x5C, 0x7E in text: a backslash and a tilde on Windows.
    const std::string bytes =
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n"
        "<\x93\xfa\x96\x7b a=\"\x95\xf1\x8d\x90\"><!--\x8f\x54\x95\xf1-->"
        "C:\\\x8f\x54\x95\xf1 ~ \x87\x40</\x93\xfa\x96\x7b>\n";
    CXMLUtil doc;
    ASSERT_NO_FATAL_FAILURE(ExpectSavedBackUnchanged(bytes, doc, dir));
    std::wstring text;
    ASSERT_HR(doc.GetNodeValue(L"/*", text), S_OK);
    EXPECT_EQ(text, L"C:\\\x9031\x5831 ~ \x2460");
    EXPECT_EQ(ReadFileBytes(dir.File("out.xml")), bytes);
    for (const char* alias : {"SJIS", "shift_jis", "MS_Kanji"}) {
        std::string renamed = bytes;
        renamed.replace(renamed.find("Shift_JIS"), 9, alias);
        CXMLUtil again;
        ASSERT_NO_FATAL_FAILURE(ExpectSavedBackUnchanged(renamed, again, dir)) << alias;
        std::wstring aliasText;
        ASSERT_HR(again.GetNodeValue(L"/*", aliasText), S_OK);
        EXPECT_EQ(aliasText, text) << alias;
    }
}

TEST(RealDocuments, AdjacentCDataSectionsStaySeparate) {
    TempDir dir;
    CXMLUtil doc;
    ASSERT_NO_FATAL_FAILURE(
        ExpectSavedBackUnchanged("<r><![CDATA[one]]>\n<![CDATA[two]]></r>", doc, dir));
    CXMLUtil back;
    ASSERT_HR(back.Load(dir.WideFile("out.xml")), S_OK);
    long count = 0;
    ASSERT_HR(back.GetChildNodeCount(L"/r", count), S_OK);
    EXPECT_EQ(count, 2);
}

// Documents whose entities are never read: every reference is an
// entity-reference node without children, named after its entity, that the
// parent's text leaves out and a save writes back as it was.
TEST(RealDocuments, UnreadEntitiesAreKeptAsReferenceNodes) {
    struct Case {
        const char* what;
        std::string bytes;
        const wchar_t* parent;
        const char* name;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"XHTML",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
         "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">\n"
         "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>a&nbsp;b</p></body></html>\n",
         L"//*[local-name()='p']", "nbsp", L"ab"},
        {"RSS 0.91",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!DOCTYPE rss PUBLIC \"-//Netscape "
         "Communications//DTD RSS 0.91//EN\" \"http://my.netscape.com/publish/formats/"
         "rss-0.91.dtd\">\n<rss version=\"0.91\"><channel><title>&laquo;News&raquo;</title>"
         "</channel></rss>\n",
         L"/rss/channel/title", "laquo", L"News"},
        {"XSLT",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE xsl:stylesheet [<!ENTITY css SYSTEM "
         "\"style.css\">]>\n<xsl:stylesheet version=\"1.0\" "
         "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template match=\"/\">"
         "<style>&css;</style></xsl:template></xsl:stylesheet>\n",
         L"//style", "css", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        CXMLUtil doc;
        ASSERT_NO_FATAL_FAILURE(ExpectSavedBackUnchanged(c.bytes, doc, dir));
        std::vector<Handle> children;
        ASSERT_HR(doc.GetChildNodes(c.parent, children), S_OK);
        ASSERT_FALSE(children.empty());
        Handle reference = TypeOf(children[0]) == NODE_ENTITY_REFERENCE ? children[0] : children[1];
        EXPECT_EQ(TypeOf(reference), NODE_ENTITY_REFERENCE);
        EXPECT_EQ(NameOf(reference), xmlutil::test::Widen(c.name));
        Handle none;
        EXPECT_HR(reference->get_firstChild(&none), S_FALSE);
        std::wstring text;
        ASSERT_HR(doc.GetNodeValue(c.parent, text), S_OK);
        EXPECT_EQ(text, c.text);
        const std::string saved = ReadFileBytes(dir.File("out.xml"));
        EXPECT_NE(saved.find(std::string("&") + c.name + ";"), std::string::npos);
        if (std::string(c.what) == "XSLT") {
            EXPECT_NE(saved.find("<!ENTITY css SYSTEM \"style.css\">"), std::string::npos);
        }
    }
}

// A copy of a reference goes only where it loads again: into a document
// that leaves its entity to an external subset too, not into one without.
TEST(RealDocuments, CopiesOfUnreadReferencesGoOnlyWhereTheyLoad) {
    const std::wstring xhtml =
        L"<!DOCTYPE html SYSTEM \"xhtml1-strict.dtd\"><html><p>a&nbsp;b</p></html>";
    CXMLUtil source;
    ASSERT_HR(source.LoadXML(xhtml.c_str()), S_OK);
    Handle paragraph;
    ASSERT_HR(source.GetSingleNode(L"/html/p", paragraph), S_OK);

    CXMLUtil plain;
    ASSERT_HR(plain.LoadXML(L"<r/>"), S_OK);
    Handle root;
    ASSERT_HR(plain.GetRootNode(root), S_OK);
    EXPECT_FALSE(plain.AppendChildNode(root, paragraph, VARIANT_TRUE));
    EXPECT_EQ(XmlOf(plain), L"<r/>\n");
    // The node constructor copies through GetXML and LoadXML: refused too.
    CXMLUtil copied(paragraph);
    EXPECT_EQ(copied.IsError(), 1);

    CXMLUtil page;
    ASSERT_HR(page.LoadXML(L"<!DOCTYPE html SYSTEM \"xhtml1-strict.dtd\"><html/>"), S_OK);
    ASSERT_HR(page.GetRootNode(root), S_OK);
    ASSERT_TRUE(page.AppendChildNode(root, paragraph, VARIANT_TRUE));
    TempDir dir;
    ASSERT_HR(page.Save(dir.WideFile("page.xml")), S_OK);
    CXMLUtil back;
    ASSERT_HR(back.Load(dir.WideFile("page.xml")), S_OK);
    EXPECT_EQ(XmlOf(back), XmlOf(page));
}

// Parameter-entity references in the internal subset make an undeclared
// entity a validity matter too; the saved document type keeps them, read or
// not, so that the saved document loads.
TEST(RealDocuments, ParameterEntityReferencesAreKeptInTheDocumentType) {
    for (const char* subset : {"<!ENTITY % pe \"<!ENTITY one 'text'>\"> %pe; <!ELEMENT a ANY>",
                               "<!ENTITY % ext SYSTEM \"never-read.ent\"> %ext;"}) {
        SCOPED_TRACE(subset);
        TempDir dir;
        CXMLUtil doc;
        ASSERT_NO_FATAL_FAILURE(ExpectSavedBackUnchanged(
            std::string("<!DOCTYPE a [") + subset + "]><a>&undeclared;</a>", doc, dir));
        EXPECT_NE(ReadFileBytes(dir.File("out.xml")).find("%"), std::string::npos);
    }
}

}  // namespace
