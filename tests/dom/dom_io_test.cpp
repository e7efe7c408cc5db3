// SPDX-License-Identifier: MIT
// The DOM objects with the engine underneath: loading, saving, serialising
// and selecting, through the COM-shaped interfaces.
#include <gtest/gtest.h>

#include <string>

#include "platform/xmldom/document_factory.h"
#include "support/dom_test_util.h"
#include "support/test_util.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace {

using namespace xmlutil::test::dom;  // NOLINT(google-build-using-namespace)

using xmlutil::test::CapturedOutput;
using xmlutil::test::HrEquals;
using xmlutil::test::ReadFileBytes;
using xmlutil::test::TempDir;
using xmlutil::test::Widen;
using xmlutil::test::WriteFileBytes;

// A path for load and save.
using PathArg = StringValue;

HRESULT LoadText(IXMLDOMDocument* doc, const wchar_t* xml, VARIANT_BOOL* ok) {
    return doc->loadXML(Arg(xml), ok);
}

std::wstring SelectText(IXMLDOMNode* context, const wchar_t* path) {
    CComPtr<IXMLDOMNode> node;
    if (context->selectSingleNode(Arg(path), &node) != S_OK) return L"<none>";
    return TextOf(node);
}

const wchar_t kChinese[] = L"\u4E2D\u6587";  // GB2312 bytes D6 D0 CE C4

TEST(DomLoad, SuccessReplacesFailureKeeps) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_TRUE;
    ASSERT_EQ(LoadText(doc, L"<a><b/></a>", &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    CComPtr<IXMLDOMElement> root;
    ASSERT_EQ(doc->get_documentElement(&root), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return root->get_tagName(out); }), L"a");

    for (const wchar_t* bad : {L"<a>", L"", L"<a></b>", L"<p:a/>"}) {
        EXPECT_EQ(LoadText(doc, bad, &ok), S_FALSE) << bad;
        EXPECT_EQ(ok, VARIANT_FALSE);
    }
    EXPECT_EQ(doc->loadXML(nullptr, &ok), S_FALSE);
    EXPECT_EQ(XmlOf(root), L"<a><b/></a>");  // previous content kept
    CComPtr<IXMLDOMNode> b;
    EXPECT_EQ(doc->selectSingleNode(Arg(L"/a/b"), &b), S_OK);
}

TEST(DomLoad, FilesLoadAndUnreadableOnesAnswerSFalse) {
    TempDir dir;
    WriteFileBytes(dir.File("in.xml"), "<Root>\n  <Menu>m</Menu>\n</Root>\n");
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc->load(PathArg(dir.WideFile("in.xml")), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(SelectText(doc, L"/Root/Menu"), L"m");
    // Indentation is dropped on load: the root's only child is Menu.
    CComPtr<IXMLDOMNode> root;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/Root"), &root), S_OK);
    CComPtr<IXMLDOMNodeList> children;
    ASSERT_EQ(root->get_childNodes(&children), S_OK);
    long length = 0;
    children->get_length(&length);
    EXPECT_EQ(length, 1);

    EXPECT_EQ(doc->load(PathArg(dir.WideFile("missing.xml")), &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(doc->load(PathArg(dir.WideFile("")), &ok), S_FALSE);
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    EXPECT_HR(doc->load(number, &ok), E_INVALIDARG);
    EXPECT_HR(doc->save(number), E_INVALIDARG);
    EXPECT_EQ(SelectText(doc, L"/Root/Menu"), L"m");
}

TEST(DomLoad, PreserveWhiteSpaceKeepsIndentation) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL preserve = VARIANT_TRUE;
    ASSERT_EQ(doc->get_preserveWhiteSpace(&preserve), S_OK);
    EXPECT_EQ(preserve, VARIANT_FALSE);
    ASSERT_EQ(doc->put_preserveWhiteSpace(VARIANT_TRUE), S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(LoadText(doc, L"<r>\n  <a/>\n</r>", &ok), S_OK);
    CComPtr<IXMLDOMNode> root;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r"), &root), S_OK);
    CComPtr<IXMLDOMNodeList> children;
    ASSERT_EQ(root->get_childNodes(&children), S_OK);
    long length = 0;
    children->get_length(&length);
    EXPECT_EQ(length, 3);

    ASSERT_EQ(doc->put_async(VARIANT_FALSE), S_OK);
    VARIANT_BOOL async = VARIANT_TRUE;
    ASSERT_EQ(doc->get_async(&async), S_OK);
    EXPECT_EQ(async, VARIANT_FALSE);
}

// Bytes in UTF-16LE for ASCII text: every other byte is 0x00.
std::string Utf16le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// Files are read in blocks as the parse goes: what lies far into a large file
// is checked and decoded like its start.
TEST(DomLoad, LargeFilesAreReadAndCheckedToTheEnd) {
    TempDir dir;
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    const auto load = [&](const std::string& name, const std::string& bytes) {
        WriteFileBytes(dir.File(name), bytes);
        return doc->load(PathArg(dir.WideFile(name)), &ok);
    };

    // UTF-8 characters of three bytes cross every block boundary somewhere.
    std::string text;
    while (text.size() < 1'100'000)
        text +=
            "\xe4\xb8\xad"
            "a";
    const std::string utf8 = "<?xml version=\"1.0\"?><r>" + text + "</r>";
    ASSERT_EQ(load("big.xml", utf8), S_OK);
    EXPECT_EQ(TextOf(doc), Widen(text));
    CComPtr<IXMLDOMNode> declaration;
    EXPECT_EQ(doc->selectSingleNode(Arg(L"/processing-instruction('xml')"), &declaration), S_OK);

    // A NUL far into the file is refused, after the root element as inside it,
    // and the loaded content stays.
    EXPECT_EQ(load("nul-after.xml", utf8 + std::string(1, '\0')), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    std::string inside = utf8;
    inside[800'000] = '\0';
    EXPECT_EQ(load("nul-inside.xml", inside), S_FALSE);
    EXPECT_EQ(TextOf(doc), Widen(text));

    // An empty file holds no document.
    EXPECT_EQ(load("empty.xml", ""), S_FALSE);
    EXPECT_EQ(TextOf(doc), Widen(text));

    // UTF-16: zero bytes are everywhere, a zero code unit is a NUL.
    const std::string wide = "\xff\xfe" + Utf16le("<r>" + std::string(400'000, 'x') + "</r>");
    ASSERT_EQ(load("wide.xml", wide), S_OK);
    EXPECT_EQ(TextOf(doc).size(), 400'000u);
    EXPECT_EQ(load("wide-nul.xml", wide + Utf16le(std::string(1, '\0'))), S_FALSE);

    // GB2312 decoded across blocks.
    std::string gb;
    while (gb.size() < 600'000)
        gb +=
            "\xD6\xD0\xCE\xC4"
            "b";
    ASSERT_EQ(load("gb.xml", "<?xml version=\"1.0\" encoding=\"gb2312\"?><r>" + gb + "</r>"), S_OK);
    std::wstring expected;
    for (size_t i = 0; i < gb.size() / 5; ++i) expected += std::wstring(kChinese) + L"b";
    EXPECT_EQ(TextOf(doc), expected);

    // A character cut by the end of the first block (256 KiB) is joined; a
    // lead byte ending the block with ASCII after it, or the file, is refused.
    const std::string head = "<?xml version=\"1.0\" encoding=\"gb2312\"?><r>";
    const size_t block = 256 * 1024;
    const std::string cut = head + std::string(block - 1 - head.size(), 'a') + "\xD6\xD0</r>";
    ASSERT_EQ(load("gb-cut.xml", cut), S_OK);
    EXPECT_EQ(TextOf(doc), std::wstring(block - 1 - head.size(), L'a') + L"\u4E2D");
    std::string broken = cut;
    broken[block] = 'b';
    EXPECT_EQ(load("gb-broken.xml", broken), S_FALSE);
    EXPECT_EQ(load("gb-tail.xml", head + "x</r>\xD6"), S_FALSE);
    EXPECT_EQ(TextOf(doc), std::wstring(block - 1 - head.size(), L'a') + L"\u4E2D");
}

// Short texts (attribute values above all) are kept inside their node by the
// parser; every edit must treat them like any other text.
TEST(DomLoad, ShortTextsOfALoadedDocumentEditLikeAnyOther) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r a=\"x\" b=\"yy\"><p>ab</p><q>cd</q><s>ef</s></r>");
    CComPtr<IXMLDOMNode> p;
    CComPtr<IXMLDOMNode> q;
    CComPtr<IXMLDOMNode> s;
    CComPtr<IXMLDOMNode> a;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/p"), &p), S_OK);
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/q/text()"), &q), S_OK);
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/s"), &s), S_OK);
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/@a"), &a), S_OK);

    ASSERT_EQ(p->put_text(Arg(L"a much longer text than before")), S_OK);
    ASSERT_EQ(q->put_nodeValue(StringValue(L"q2")), S_OK);
    ASSERT_EQ(a->put_text(Arg(L"a longer attribute value")), S_OK);
    CComPtr<IXMLDOMNode> copy;
    ASSERT_EQ(s->cloneNode(VARIANT_TRUE, &copy), S_OK);
    CComPtr<IXMLDOMNode> sText;
    ASSERT_EQ(s->get_firstChild(&sText), S_OK);
    CComPtr<IXMLDOMNode> removed;
    ASSERT_EQ(s->removeChild(sText, &removed), S_OK);
    CComPtr<IXMLDOMNode> appended;
    ASSERT_EQ(s->appendChild(copy, &appended), S_OK);
    removed.Release();
    sText.Release();
    EXPECT_EQ(XmlOf(doc),
              L"<r a=\"a longer attribute value\" b=\"yy\"><p>a much longer text than "
              L"before</p><q>q2</q><s><s>ef</s></s></r>\n");
    // A second document takes the short texts over by copying them.
    CComPtr<IXMLDOMDocument> other = Parsed(L"<o/>");
    CComPtr<IXMLDOMElement> root;
    ASSERT_EQ(other->get_documentElement(&root), S_OK);
    CComPtr<IXMLDOMNode> moved;
    ASSERT_EQ(root->appendChild(q, &moved), S_OK);
    doc.Release();
    EXPECT_EQ(XmlOf(other), L"<o>q2</o>\n");
}

// Short texts the document makes itself are kept inside their node too;
// replaced, grown, shrunk, copied, moved and saved, they stay exact.
TEST(DomLoad, ShortTextsMadeByTheDocumentEditLikeAnyOther) {
    TempDir dir;
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r><p/></r>");
    CComPtr<IXMLDOMNode> p;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/p"), &p), S_OK);
    CComPtr<IXMLDOMText> text;
    ASSERT_EQ(doc->createTextNode(Arg(L"fifteen chars!!"), &text),
              S_OK);  // the largest kept inside
    ASSERT_EQ(p->appendChild(text, nullptr), S_OK);
    CComPtr<IXMLDOMText> second;
    ASSERT_EQ(doc->createTextNode(Arg(L""), &second), S_OK);
    ASSERT_EQ(p->appendChild(second, nullptr), S_OK);
    EXPECT_EQ(TextOf(p), L"fifteen chars!!");
    ASSERT_EQ(second->put_nodeValue(StringValue(L"and a text of sixteen+")), S_OK);
    ASSERT_EQ(text->put_nodeValue(StringValue(L"x")), S_OK);
    CComPtr<IXMLDOMElement> element;
    ASSERT_EQ(p->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element)), S_OK);
    ASSERT_EQ(element->setAttribute(Arg(L"a"), StringValue(L"v1")), S_OK);
    ASSERT_EQ(element->setAttribute(Arg(L"a"), StringValue(L"a value longer than sixteen")), S_OK);
    ASSERT_EQ(element->setAttribute(Arg(L"b"), StringValue(L"\u4E2D")), S_OK);
    CComPtr<IXMLDOMNode> copy;
    ASSERT_EQ(p->cloneNode(VARIANT_TRUE, &copy), S_OK);
    ASSERT_EQ(p->put_text(Arg(L"short")), S_OK);
    CComPtr<IXMLDOMDocument> other = Parsed(L"<o/>");
    CComPtr<IXMLDOMNode> otherRoot;
    ASSERT_EQ(other->selectSingleNode(Arg(L"/o"), &otherRoot), S_OK);
    ASSERT_EQ(otherRoot->appendChild(copy, nullptr), S_OK);
    text.Release();
    second.Release();
    EXPECT_EQ(XmlOf(doc), L"<r><p a=\"a value longer than sixteen\" b=\"\u4E2D\">short</p></r>\n");
    EXPECT_EQ(XmlOf(other),
              L"<o><p a=\"a value longer than sixteen\" b=\"\u4E2D\">xand a text of "
              L"sixteen+</p></o>\n");
    ASSERT_EQ(other->save(PathArg(dir.WideFile("o.xml"))), S_OK);
    CComPtr<IXMLDOMDocument> back = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(back->load(PathArg(dir.WideFile("o.xml")), &ok), S_OK);
    EXPECT_EQ(SelectText(back, L"/o/p"), L"xand a text of sixteen+");
}

TEST(DomSave, Gb2312FileLoadsSavesAndLoadsBack) {
    TempDir dir;
    WriteFileBytes(dir.File("gb.xml"),
                   "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<Root>\xD6\xD0\xCE\xC4</Root>\n");
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc->load(PathArg(dir.WideFile("gb.xml")), &ok), S_OK);
    EXPECT_EQ(SelectText(doc, L"/Root"), kChinese);

    // The bytes GB2312 gives are the engine's to check; here, that they load back.
    ASSERT_EQ(doc->save(PathArg(dir.WideFile("out.xml"))), S_OK);

    CComPtr<IXMLDOMDocument> again = NewDocument();
    ASSERT_EQ(again->load(PathArg(dir.WideFile("out.xml")), &ok), S_OK);
    EXPECT_EQ(SelectText(again, L"/Root"), kChinese);

    // get_xml gives Unicode text; loadXML ignores the encoding it names.
    const std::wstring xml = XmlOf(doc);
    EXPECT_NE(xml.find(L"gb2312"), std::wstring::npos);
    CComPtr<IXMLDOMDocument> fromText = NewDocument();
    ASSERT_EQ(fromText->loadXML(Arg(xml), &ok), S_OK);
    EXPECT_EQ(SelectText(fromText, L"/Root"), kChinese);
}

TEST(DomSave, BuiltDocumentWithDeclarationRoundTrips) {
    TempDir dir;
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    CComPtr<IXMLDOMProcessingInstruction> decl;
    ASSERT_EQ(doc->createProcessingInstruction(Arg(L"xml"),
                                               Arg(L"version=\"1.0\" encoding=\"gb2312\""), &decl),
              S_OK);
    ASSERT_EQ(doc->appendChild(decl, nullptr), S_OK);
    CComPtr<IXMLDOMElement> root;
    ASSERT_EQ(doc->createElement(Arg(L"Root"), &root), S_OK);
    ASSERT_EQ(doc->appendChild(root, nullptr), S_OK);
    CComPtr<IXMLDOMElement> item;
    ASSERT_EQ(doc->createElement(Arg(L"Item"), &item), S_OK);
    ASSERT_EQ(root->appendChild(item, nullptr), S_OK);
    ASSERT_EQ(item->put_text(Arg(std::wstring(kChinese) + L" & <more>")), S_OK);
    VARIANT id;
    VariantInit(&id);
    id.vt = VT_BSTR;
    id.bstrVal = SysAllocString(L"a\"b");
    ASSERT_EQ(root->setAttribute(Arg(L"ID"), id), S_OK);
    VariantClear(&id);

    ASSERT_EQ(doc->save(PathArg(dir.WideFile("built.xml"))), S_OK);
    EXPECT_EQ(ReadFileBytes(dir.File("built.xml"))
                  .rfind("<?xml version=\"1.0\" encoding=\"gb2312\"?>", 0),
              0u);
    CComPtr<IXMLDOMDocument> again = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(again->load(PathArg(dir.WideFile("built.xml")), &ok), S_OK);
    EXPECT_EQ(SelectText(again, L"/Root/Item"), std::wstring(kChinese) + L" & <more>");
    EXPECT_EQ(SelectText(again, L"/Root/@ID"), L"a\"b");
    EXPECT_EQ(XmlOf(again), XmlOf(doc));

    EXPECT_TRUE(FAILED(doc->save(PathArg(dir.WideFile("no/such/folder/x.xml")))));
}

TEST(DomSelect, FirstMatchNoMatchAndBadExpressions) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(LoadText(doc, L"<Root><Menu>1</Menu><Menu>2<Item>i</Item></Menu></Root>", &ok), S_OK);
    EXPECT_EQ(SelectText(doc, L"/Root/Menu"), L"1");
    EXPECT_EQ(SelectText(doc, L"Root/Menu"), L"1");
    CComPtr<IXMLDOMNode> second;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/Root/Menu[2]"), &second), S_OK);
    EXPECT_EQ(SelectText(second, L"Item"), L"i");

    CComPtr<IXMLDOMNode> none;
    EXPECT_EQ(doc->selectSingleNode(Arg(L"/Root/Nothing"), &none), S_FALSE);
    EXPECT_EQ(none.p, nullptr);
    CComPtr<IXMLDOMNodeList> empty;
    ASSERT_EQ(doc->selectNodes(Arg(L"/Root/Nothing"), &empty), S_OK);
    long length = -1;
    empty->get_length(&length);
    EXPECT_EQ(length, 0);

    CapturedOutput out(1);
    CapturedOutput err(2);
    EXPECT_HR(doc->selectSingleNode(Arg(L"/Root/[bad"), &none), E_FAIL);
    EXPECT_HR(doc->selectSingleNode(Arg(L"count(//Menu)"), &none), E_FAIL);
    CComPtr<IXMLDOMNodeList> list;
    EXPECT_HR(doc->selectNodes(Arg(L"undefined:name"), &list), E_FAIL);
    EXPECT_EQ(list.p, nullptr);
    EXPECT_EQ(LoadText(doc, L"<a><b></a>", &ok), S_FALSE);
    EXPECT_EQ(LoadText(doc, L"<a>&undefined;</a>", &ok), S_FALSE);
    EXPECT_EQ(out.Finish(), "");
    EXPECT_EQ(err.Finish(), "");
}

TEST(DomSelect, ResultsFollowEditsMadeThroughTheObjects) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(LoadText(doc, L"<r><a>1</a></r>", &ok), S_OK);
    CComPtr<IXMLDOMNode> root;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r"), &root), S_OK);
    EXPECT_EQ(SelectText(doc, L"/r/b"), L"<none>");
    CComPtr<IXMLDOMElement> b;
    ASSERT_EQ(doc->createElement(Arg(L"b"), &b), S_OK);
    ASSERT_EQ(b->put_text(Arg(L"2")), S_OK);
    ASSERT_EQ(root->appendChild(b, nullptr), S_OK);
    EXPECT_EQ(SelectText(doc, L"/r/b"), L"2");
    ASSERT_EQ(b->put_text(Arg(L"3")), S_OK);
    EXPECT_EQ(SelectText(doc, L"/r/b[. = '3']"), L"3");
    ASSERT_EQ(root->removeChild(b, nullptr), S_OK);
    EXPECT_EQ(SelectText(doc, L"/r/b"), L"<none>");
    EXPECT_EQ(XmlOf(root), L"<r><a>1</a></r>");
}

}  // namespace

namespace {

TEST(DomClone, DocumentCopyIsIndependent) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(
        LoadText(doc, L"<?xml version=\"1.0\" encoding=\"gb2312\"?><!--c--><r a=\"1\"><b/></r>",
                 &ok),
        S_OK);
    CComPtr<IXMLDOMNode> copy;
    ASSERT_EQ(doc->cloneNode(VARIANT_TRUE, &copy), S_OK);
    CComPtr<IXMLDOMDocument> copied;
    ASSERT_EQ(copy.QueryInterface(&copied), S_OK);
    EXPECT_FALSE(copied.IsEqualObject(doc));
    EXPECT_EQ(XmlOf(copied), XmlOf(doc));
    ASSERT_EQ(LoadText(doc, L"<other/>", &ok), S_OK);
    EXPECT_EQ(SelectText(copied, L"/r/@a"), L"1");

    CComPtr<IXMLDOMNode> empty;
    ASSERT_EQ(copied->cloneNode(VARIANT_FALSE, &empty), S_OK);
    VARIANT_BOOL has = VARIANT_TRUE;
    EXPECT_EQ(empty->hasChildNodes(&has), S_FALSE);
}

}  // namespace
