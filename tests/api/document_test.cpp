// SPDX-License-Identifier: MIT
// The document object: construction, copies and sharing, the recorded result,
// objects without a document, loading, saving and serialising.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "dom/com_holders.h"
#include "platform/xmldom/engine/file_io.h"
#include "support/private_access.h"
#include "support/scripted_dom.h"
#include "support/test_util.h"

namespace {

using xmlutil::test::ReadFileBytes;
using xmlutil::test::TempDir;
using xmlutil::test::WriteFileBytes;
using xmlutil::test::XmlTest;

std::wstring NameOf(IXMLDOMNode* node) {
    BSTR name = nullptr;
    EXPECT_HR(node->get_nodeName(&name), S_OK);
    std::wstring result = name != nullptr ? name : L"";
    SysFreeString(name);
    return result;
}

std::wstring TextOf(IXMLDOMNode* node) {
    BSTR text = nullptr;
    EXPECT_HR(node->get_text(&text), S_OK);
    std::wstring result = text != nullptr ? text : L"";
    SysFreeString(text);
    return result;
}

// Current count of references to a COM object (one is added and dropped).
ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

std::wstring RootName(CXMLUtil& util) {
    CComPtr<IXMLDOMNode> root;
    if (util.GetRootNode(root) != S_OK) return L"<no root>";
    return NameOf(root);
}

// Appends an element with text straight through the DOM interfaces.
void AppendElement(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* name,
                   const wchar_t* text) {
    BSTR tag = SysAllocString(name);
    CComPtr<IXMLDOMElement> element;
    ASSERT_HR(doc->createElement(tag, &element), S_OK);
    SysFreeString(tag);
    BSTR value = SysAllocString(text);
    ASSERT_HR(element->put_text(value), S_OK);
    SysFreeString(value);
    ASSERT_HR(parent->appendChild(element, nullptr), S_OK);
}

// ---- construction and properties -------------------------------------------------

TEST(Lifetime, DefaultObjectHasEmptySynchronousDocument) {
    CXMLUtil util;
    EXPECT_EQ(util.IsError(), 0);
    CComPtr<IXMLDOMDocument> doc = util.GetDomDocument();
    ASSERT_TRUE(doc);
    VARIANT_BOOL flag = VARIANT_TRUE;
    EXPECT_HR(doc->get_async(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    flag = VARIANT_TRUE;
    EXPECT_HR(doc->get_validateOnParse(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    CComPtr<IXMLDOMNode> first;
    EXPECT_HR(doc->get_firstChild(&first), S_FALSE);
    EXPECT_FALSE(first);

    CXMLUtil asyncUtil(VARIANT_TRUE);
    EXPECT_EQ(asyncUtil.IsError(), 0);
    EXPECT_HR(asyncUtil.GetDomDocument()->get_async(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);

    // Arrays of document objects use the flag constructor's default.
    CXMLUtil several[3];
    EXPECT_NE(several[0].GetDomDocument(), several[1].GetDomDocument());
}

TEST(Lifetime, CopiesShareOneDocumentAndOutliveTheSource) {
    auto source = std::make_unique<CXMLUtil>();
    CXMLUtil copy(*source);
    EXPECT_EQ(copy.GetDomDocument(), source->GetDomDocument());
    ASSERT_HR(source->LoadXML(L"<shared/>"), S_OK);
    EXPECT_EQ(RootName(copy), L"shared");

    // Each object has its own recorded result, starting from the source's.
    CComPtr<IXMLDOMNode> none;
    EXPECT_HR(source->GetSingleNode(L"/missing", none), S_FALSE);
    CXMLUtil laterCopy(*source);
    EXPECT_EQ(laterCopy.IsError(), 1);
    EXPECT_EQ(copy.IsError(), 0);

    source.reset();
    ASSERT_HR(copy.LoadXML(L"<after><x/></after>"), S_OK);
    EXPECT_EQ(RootName(laterCopy), L"after");
}

TEST(Lifetime, AssignmentMovesToTheSourceDocument) {
    CXMLUtil target;
    CXMLUtil source;
    ASSERT_HR(source.LoadXML(L"<b/>"), S_OK);
    CComPtr<IXMLDOMNode> none;
    EXPECT_HR(source.GetSingleNode(L"/nothing", none), S_FALSE);

    CComPtr<IXMLDOMDocument> oldDocument = target.GetDomDocument();
    const ULONG heldBefore = References(oldDocument);
    target = source;
    EXPECT_EQ(References(oldDocument), heldBefore - 1) << "old document not released";
    EXPECT_EQ(target.GetDomDocument(), source.GetDomDocument());
    EXPECT_EQ(target.IsError(), 1);
    EXPECT_HR(CXMLUtilTestAccess::RecordedResult(target), S_FALSE);

    // Self-assignment keeps both the document and the result.
    IXMLDOMDocument* before = CXMLUtilTestAccess::Document(target);
    CXMLUtil& alias = target;
    target = alias;
    EXPECT_EQ(CXMLUtilTestAccess::Document(target), before);
    EXPECT_HR(CXMLUtilTestAccess::RecordedResult(target), S_FALSE);
    EXPECT_EQ(RootName(target), L"b");
    EXPECT_EQ(target.IsError(), 0) << "a successful member clears the error";
}

TEST(Lifetime, DocumentHandleConstructorSharesWithoutChanging) {
    CXMLUtil asyncUtil(VARIANT_TRUE);
    CXMLUtil sharing(asyncUtil.GetDomDocument());
    EXPECT_EQ(sharing.IsError(), 0);
    VARIANT_BOOL flag = VARIANT_FALSE;
    EXPECT_HR(sharing.GetDomDocument()->get_async(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    ASSERT_HR(sharing.LoadXML(L"<seen/>"), S_OK);
    EXPECT_EQ(RootName(asyncUtil), L"seen");
}

TEST(Lifetime, NodeConstructorMakesAnIndependentCopy) {
    CXMLUtil original;
    ASSERT_HR(
        original.LoadXML(L"<r><item id=\"7\" kind=\"x\"><sub>text</sub><sub/></item><other/></r>"),
        S_OK);
    CComPtr<IXMLDOMNode> item;
    ASSERT_HR(original.GetSingleNode(L"/r/item", item), S_OK);

    CXMLUtil copy(item);
    EXPECT_EQ(copy.IsError(), 0);
    std::wstring copied;
    std::wstring source;
    EXPECT_HR(copy.GetXML(copied, CComPtr<IXMLDOMNode>()), S_OK);
    EXPECT_HR(original.GetXML(source, item), S_OK);
    EXPECT_NE(copied.find(source), std::wstring::npos) << "copy: " << copied.size();
    EXPECT_EQ(RootName(copy), L"item");

    // Changes to the copy do not reach the original, nor the reverse.
    ASSERT_HR(copy.LoadXML(L"<replaced/>"), S_OK);
    EXPECT_HR(original.GetSingleNode(L"/r/item/sub", item), S_OK);
    EXPECT_EQ(RootName(original), L"r");
}

// White space an ancestor's xml:space kept, or the caller added, is part of
// the element: the copy holds every text node the element holds.
TEST(Lifetime, NodeConstructorKeepsWhiteSpaceTheSourceKept) {
    CXMLUtil original;
    ASSERT_HR(original.LoadXML(L"<r xml:space=\"preserve\"><a> <b/> </a><c><d/></c></r>"), S_OK);
    CComPtr<IXMLDOMNode> a;
    ASSERT_HR(original.GetSingleNode(L"/r/a", a), S_OK);
    CComPtr<IXMLDOMNode> c;
    ASSERT_HR(original.GetSingleNode(L"/r/c", c), S_OK);
    CComPtr<IXMLDOMText> space;
    ASSERT_HR(original.GetDomDocument()->createTextNode(xmlutil::dom::Bstr(L"\n  ").get(), &space),
              S_OK);
    CComPtr<IXMLDOMNode> appended;
    ASSERT_HR(c->appendChild(space, &appended), S_OK);

    for (const CComPtr<IXMLDOMNode>& node : {a, c}) {
        CXMLUtil copy(node);
        EXPECT_EQ(copy.IsError(), 0);
        std::wstring copied;
        std::wstring source;
        CComPtr<IXMLDOMNode> root;
        ASSERT_HR(copy.GetRootNode(root), S_OK);
        EXPECT_HR(copy.GetXML(copied, root), S_OK);
        EXPECT_HR(original.GetXML(source, node), S_OK);
        EXPECT_EQ(copied, source);
        // The new document's own setting is left as it was made.
        VARIANT_BOOL preserve = VARIANT_TRUE;
        EXPECT_HR(copy.GetDomDocument()->get_preserveWhiteSpace(&preserve), S_OK);
        EXPECT_EQ(preserve, VARIANT_FALSE);
    }
}

TEST(Lifetime, NodeConstructorRefusalsKeepAUsableObject) {
    CXMLUtil original;
    ASSERT_HR(original.LoadXML(L"<r>just text</r>"), S_OK);
    CComPtr<IXMLDOMNode> text;
    ASSERT_HR(original.GetSingleNode(L"/r/text()", text), S_OK);
    CXMLUtil fromText(text);
    EXPECT_HR(CXMLUtilTestAccess::RecordedResult(fromText), S_FALSE);

    CXMLUtil fromNothing{CComPtr<IXMLDOMNode>()};
    EXPECT_HR(CXMLUtilTestAccess::RecordedResult(fromNothing), E_POINTER);
    ASSERT_TRUE(fromNothing.GetDomDocument());
    EXPECT_HR(fromNothing.LoadXML(L"<usable/>"), S_OK);
}

TEST(Lifetime, CreateEmptyXmlReplacesAHeldDocument) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<old/>"), S_OK);
    CComPtr<IXMLDOMDocument> old = util.GetDomDocument();
    const ULONG heldBefore = References(old);
    EXPECT_HR(CXMLUtilTestAccess::CreateEmptyXML(util, VARIANT_TRUE), S_OK);
    EXPECT_EQ(References(old), heldBefore - 1);
    EXPECT_NE(util.GetDomDocument(), old);
    CComPtr<IXMLDOMNode> root;
    EXPECT_HR(util.GetRootNode(root), S_FALSE);
    VARIANT_BOOL flag = VARIANT_FALSE;
    EXPECT_HR(util.GetDomDocument()->get_async(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
}

// Every member that needs the object's own document refuses with E_POINTER on
// an object without one, and leaves its outputs exactly as passed.
TEST(Lifetime, ObjectWithoutDocumentRefusesAndWritesNoFile) {
    CXMLUtil empty{CComPtr<IXMLDOMDocument>()};
    EXPECT_EQ(empty.IsError(), 0);
    EXPECT_FALSE(empty.GetDomDocument());

    CXMLUtil donor;
    ASSERT_HR(donor.LoadXML(L"<keep><me/></keep>"), S_OK);
    CComPtr<IXMLDOMNode> held;
    ASSERT_HR(donor.GetRootNode(held), S_OK);
    CComPtr<IXMLDOMElement> heldElement;
    ASSERT_HR(donor.GetDOMElement(heldElement), S_OK);

    TempDir dir;
    std::wstring text = L"as passed";
    std::vector<CComPtr<IXMLDOMNode>> nodes{held};
    long count = 42;
    CComPtr<IXMLDOMNode> node = held;
    CComPtr<IXMLDOMElement> element = heldElement;

    EXPECT_HR(empty.LoadXML(L"<a/>"), E_POINTER);
    EXPECT_HR(empty.Load(dir.WideFile("none.xml")), E_POINTER);
    EXPECT_HR(empty.Save(dir.WideFile("none.xml")), E_POINTER);
    EXPECT_HR(empty.GetXML(text), E_POINTER);
    EXPECT_HR(empty.AppendProcessingInstruction(), E_POINTER);
    EXPECT_HR(empty.GetRootNode(node), E_POINTER);
    EXPECT_EQ(node, held.p);
    // GetDOMElement and GetSingleNode empty their output before anything
    // can fail.
    EXPECT_HR(empty.GetDOMElement(element), E_POINTER);
    EXPECT_FALSE(element);
    EXPECT_HR(empty.GetSingleNode(L"/keep", node), E_POINTER);
    EXPECT_FALSE(node);
    EXPECT_HR(empty.GetNodes(L"/keep", nodes), E_POINTER);
    EXPECT_HR(empty.GetNodesCount(L"/keep", count), E_POINTER);
    EXPECT_EQ(empty.IsError(), 1);

    EXPECT_EQ(text, L"as passed");
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0], held.p);
    EXPECT_EQ(count, 42);
    EXPECT_TRUE(dir.Entries().empty());

    // A given node needs no document of the object's own.
    EXPECT_HR(empty.GetXML(text, held), S_OK);
    EXPECT_EQ(text, L"<keep><me/></keep>");
    EXPECT_HR(empty.GetSingleNode(L"me", node, held), S_OK);
    EXPECT_EQ(NameOf(node), L"me");
}

// ---- loading -------------------------------------------------------------------

TEST(Loading, TextThatParsesOrNot) {
    CXMLUtil util;
    EXPECT_HR(util.LoadXML(L"<a><b/></a>"), S_OK);
    EXPECT_EQ(RootName(util), L"a");
    EXPECT_EQ(util.IsError(), 0);

    for (const wchar_t* bad : {L"<a>", L"", static_cast<const wchar_t*>(nullptr), L"<a/><b/>"}) {
        CXMLUtil other;
        EXPECT_HR(other.LoadXML(bad), S_FALSE) << (bad ? bad : L"(null)");
        EXPECT_EQ(other.IsError(), 1);
    }
}

TEST(Loading, FilesReplaceTheContent) {
    TempDir dir;
    WriteFileBytes(dir.File("menu.xml"), "<?xml version=\"1.0\"?>\n<Root>\n  <Menu/>\n</Root>\n");
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<before><x/></before>"), S_OK);
    EXPECT_HR(util.Load(dir.WideFile("menu.xml")), S_OK);
    EXPECT_EQ(RootName(util), L"Root");
    long count = -1;
    EXPECT_HR(util.GetNodesCount(L"//before | //x", count), S_OK);
    EXPECT_EQ(count, 0);

    // Nothing that can be read and parsed: S_FALSE, not a failure code.
    WriteFileBytes(dir.File("broken.xml"), "<Root><Menu></Root>");
    EXPECT_HR(util.Load(dir.WideFile("missing.xml")), S_FALSE);
    EXPECT_HR(util.Load(dir.WideFile("broken.xml")), S_FALSE);
    EXPECT_HR(util.Load(xmlutil::test::Widen(dir.path())), S_FALSE);
    EXPECT_HR(util.Load(L""), S_FALSE);
    EXPECT_EQ(util.IsError(), 1);
}

// The success flag decides: false is S_FALSE whatever code came with it; a
// true flag passes the code on unchanged.
TEST(Loading, ResultFollowsTheSuccessFlag) {
    struct Case {
        HRESULT hr;
        VARIANT_BOOL flag;
        HRESULT expected;
    };
    const Case cases[] = {{S_OK, VARIANT_TRUE, S_OK},
                          {S_OK, VARIANT_FALSE, S_FALSE},
                          {E_OUTOFMEMORY, VARIANT_FALSE, S_FALSE},
                          {E_ACCESSDENIED, VARIANT_TRUE, E_ACCESSDENIED}};
    for (const Case& c : cases) {
        xmlutil::test::ScriptedDocument doc;
        doc.onLoadXML = [&](BSTR, VARIANT_BOOL* ok) {
            EXPECT_EQ(*ok, VARIANT_FALSE) << "flag not reset before the call";
            *ok = c.flag;
            return c.hr;
        };
        doc.onLoad = [&](VARIANT source, VARIANT_BOOL* ok) {
            EXPECT_EQ(source.vt, VT_BSTR);
            EXPECT_STREQ(source.bstrVal, L"some/file.xml");
            *ok = c.flag;
            return c.hr;
        };
        CXMLUtil util{CComPtr<IXMLDOMDocument>(&doc)};
        EXPECT_HR(util.LoadXML(L"<a/>"), c.expected) << xmlutil::test::HrText(c.hr);
        EXPECT_HR(CXMLUtilTestAccess::RecordedResult(util), c.expected);
        EXPECT_HR(util.Load(L"some/file.xml"), c.expected) << xmlutil::test::HrText(c.hr);
    }
}

// ---- serialising ---------------------------------------------------------------

TEST_F(XmlTest, GetXmlOfDocumentAndOfOneElement) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><a k=\"1\"><b>t</b></a><c/></r>"));
    std::wstring xml;
    EXPECT_HR(util.GetXML(xml), S_OK);
    EXPECT_NE(xml.find(L"<r><a k=\"1\"><b>t</b></a><c/></r>"), std::wstring::npos) << xml.size();

    xml = L"replaced";
    EXPECT_HR(util.GetXML(xml, Node(L"/r/a")), S_OK);
    EXPECT_EQ(xml, L"<a k=\"1\"><b>t</b></a>");
}

TEST(Serialising, FailureKeepsTheOutputAndIsRecorded) {
    xmlutil::test::ScriptedDocument doc;
    doc.onGetXml = [](BSTR* xml) {
        *xml = nullptr;
        return E_FAIL;
    };
    CXMLUtil util{CComPtr<IXMLDOMDocument>(&doc)};
    std::wstring xml = L"before";
    EXPECT_HR(util.GetXML(xml), E_FAIL);
    EXPECT_EQ(xml, L"before");
    EXPECT_EQ(util.IsError(), 1);
}

TEST(Saving, DeclarationStopsWhenItCannotBeCreated) {
    xmlutil::test::ScriptedDocument doc;
    std::wstring target;
    std::wstring data;
    doc.onCreatePI = [&](BSTR t, BSTR d, IXMLDOMProcessingInstruction** pi) {
        target = t;
        data = d;
        *pi = nullptr;
        return E_OUTOFMEMORY;
    };
    CXMLUtil util{CComPtr<IXMLDOMDocument>(&doc)};
    EXPECT_HR(util.AppendProcessingInstruction(), E_OUTOFMEMORY);
    EXPECT_EQ(doc.appendChildCalls, 0);
    EXPECT_EQ(target, L"xml");
    EXPECT_EQ(data, L"version=\"1.0\" encoding=\"gb2312\"");
}

// ---- the declaration and saving ----------------------------------------------------

// The declaration AppendProcessingInstruction makes heads the file; the bytes
// GB2312 gives are the engine's to check.
TEST(Saving, DeclaredGb2312DocumentIsSavedWithItsDeclarationAndLoadsBack) {
    TempDir dir;
    CXMLUtil util;
    ASSERT_HR(util.AppendProcessingInstruction(), S_OK);
    CComPtr<IXMLDOMDocument> doc = util.GetDomDocument();
    ASSERT_NO_FATAL_FAILURE(AppendElement(doc, doc, L"Root", L"\u4E2D\u6587 text"));
    ASSERT_HR(util.Save(dir.WideFile("gb.xml")), S_OK);

    const std::string bytes = ReadFileBytes(dir.File("gb.xml"));
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"gb2312\"?>";
    EXPECT_EQ(bytes.compare(0, declaration.size(), declaration), 0) << bytes;

    CXMLUtil reloaded;
    ASSERT_HR(reloaded.Load(dir.WideFile("gb.xml")), S_OK);
    CComPtr<IXMLDOMNode> root;
    ASSERT_HR(reloaded.GetRootNode(root), S_OK);
    EXPECT_EQ(TextOf(root), L"\u4E2D\u6587 text");
    // The declaration is the first node again, so a second save writes one too.
    CComPtr<IXMLDOMNode> first;
    ASSERT_HR(reloaded.GetDomDocument()->get_firstChild(&first), S_OK);
    EXPECT_EQ(NameOf(first), L"xml");
}

TEST(Saving, DeclarationBehindOtherNodesIsRefused) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<r/>"), S_OK);
    const long hr = util.AppendProcessingInstruction();
    EXPECT_LT(hr, 0);
    EXPECT_HR(CXMLUtilTestAccess::RecordedResult(util), hr);
    std::wstring xml;
    ASSERT_HR(util.GetXML(xml), S_OK);
    EXPECT_EQ(xml.find(L"gb2312"), std::wstring::npos) << "tree changed";
}

class FailingSave : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HR(util.LoadXML(L"<Root><Menu>new content</Menu></Root>"), S_OK);
        WriteFileBytes(dir.File("doc.xml"), kOld);
        listing = dir.Entries();
    }
    void ExpectOldFileIntact() {
        EXPECT_EQ(ReadFileBytes(dir.File("doc.xml")), kOld);
        EXPECT_EQ(dir.Entries(), listing);
        EXPECT_EQ(util.IsError(), 1);
    }

    static constexpr const char* kOld = "<old>kept byte for byte</old>\n";
    TempDir dir;
    CXMLUtil util;
    std::vector<std::string> listing;
};

TEST_F(FailingSave, PathIsAFolderOrInAMissingFolder) {
    EXPECT_LT(util.Save(xmlutil::test::Widen(dir.path())), 0);
    ExpectOldFileIntact();
    EXPECT_LT(util.Save(dir.WideFile("missing/doc.xml")), 0);
    ExpectOldFileIntact();
    EXPECT_LT(util.Save(L""), 0);
    ExpectOldFileIntact();
}

namespace diskfull {
xmlutil::file::FileSystemCalls real;
long WriteNothing(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}
// Takes `room` more bytes, then fails with ENOSPC.
size_t room = 0;
long WriteWhileThereIsRoom(int fd, const void* data, size_t size) {
    if (room == 0) return WriteNothing(fd, data, size);
    const long wrote = real.write(fd, data, std::min(size, room));
    if (wrote > 0) room -= static_cast<size_t>(wrote);
    return wrote;
}
}  // namespace diskfull

TEST_F(FailingSave, DiskFullLeavesTheFileAsItWas) {
    diskfull::real = xmlutil::file::CurrentFileSystemCalls();
    xmlutil::file::FileSystemCalls full = diskfull::real;
    full.write = diskfull::WriteNothing;
    xmlutil::file::SetFileSystemCallsForTesting(full);
    const long hr = util.Save(dir.WideFile("doc.xml"));
    xmlutil::file::SetFileSystemCallsForTesting(diskfull::real);
    EXPECT_HR(hr, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    ExpectOldFileIntact();

    EXPECT_LT(util.Save(L"/dev/full"), 0);
}

// Many elements holding `text`: several times the size of the save's write
// buffer (64 KiB).
std::wstring LargeXml(const std::wstring& declaration, const std::wstring& text) {
    std::wstring xml = declaration + L"<Root>";
    for (int i = 0; i < 20000; ++i) {
        xml += L"<Item id=\"" + std::to_wstring(i) + L"\">" + text + L"</Item>";
    }
    return xml + L"</Root>";
}

std::wstring RootXml(CXMLUtil& util) {
    CComPtr<IXMLDOMNode> root;
    std::wstring xml;
    EXPECT_HR(util.GetRootNode(root), S_OK);
    EXPECT_HR(util.GetXML(xml, root), S_OK);
    return xml;
}

TEST_F(FailingSave, DiskFullPartWayThroughALargeDocument) {
    ASSERT_HR(util.LoadXML(LargeXml(L"", L"value").c_str()), S_OK);
    diskfull::real = xmlutil::file::CurrentFileSystemCalls();
    xmlutil::file::FileSystemCalls full = diskfull::real;
    full.write = diskfull::WriteWhileThereIsRoom;
    diskfull::room = 200000;  // three buffers and some: the file is larger
    xmlutil::file::SetFileSystemCallsForTesting(full);
    const long hr = util.Save(dir.WideFile("doc.xml"));
    xmlutil::file::SetFileSystemCallsForTesting(diskfull::real);
    EXPECT_EQ(diskfull::room, 0u) << "the disk never filled";
    EXPECT_HR(hr, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    ExpectOldFileIntact();

    // With room, the same document is saved whole and loads back equal.
    ASSERT_HR(util.Save(dir.WideFile("doc.xml")), S_OK);
    EXPECT_EQ(dir.Entries(), listing);
    EXPECT_GT(ReadFileBytes(dir.File("doc.xml")).size(), 5u * 65536);
    CXMLUtil reloaded;
    ASSERT_HR(reloaded.Load(dir.WideFile("doc.xml")), S_OK);
    EXPECT_EQ(RootXml(reloaded), RootXml(util));
}

TEST(Saving, LargeGb2312DocumentLoadsBackEqual) {
    TempDir dir;
    CXMLUtil util;
    const std::wstring text = L"\u4E2D\u6587 \U0001F600";  // the last one GB2312 lacks
    ASSERT_HR(util.LoadXML(LargeXml(L"<?xml version=\"1.0\" encoding=\"gb2312\"?>", text).c_str()),
              S_OK);
    // The bytes GB2312 gives, across the writer's pieces, are the engine's to check.
    ASSERT_HR(util.Save(dir.WideFile("gb.xml")), S_OK);
    CXMLUtil reloaded;
    ASSERT_HR(reloaded.Load(dir.WideFile("gb.xml")), S_OK);
    EXPECT_EQ(RootXml(reloaded), RootXml(util));
}

TEST_F(FailingSave, SuccessfulSaveReplacesAndLoadsBackEqual) {
    ASSERT_HR(util.Save(dir.WideFile("doc.xml")), S_OK);
    EXPECT_EQ(dir.Entries(), listing);
    CXMLUtil reloaded;
    ASSERT_HR(reloaded.Load(dir.WideFile("doc.xml")), S_OK);
    // Saving adds a declaration; the element tree comes back unchanged.
    CComPtr<IXMLDOMNode> savedRoot;
    CComPtr<IXMLDOMNode> loadedRoot;
    ASSERT_HR(util.GetRootNode(savedRoot), S_OK);
    ASSERT_HR(reloaded.GetRootNode(loadedRoot), S_OK);
    std::wstring before;
    std::wstring after;
    ASSERT_HR(util.GetXML(before, savedRoot), S_OK);
    ASSERT_HR(reloaded.GetXML(after, loadedRoot), S_OK);
    EXPECT_EQ(after, before);
}

}  // namespace
