// SPDX-License-Identifier: MIT
// The parse error object, as a ported Windows program reads it: load a broken
// file, print reason, line and position.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/dom_test_util.h"
#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace {

using xmlutil::test::CapturedOutput;
using xmlutil::test::TempDir;
using xmlutil::test::WriteFileBytes;
using xmlutil::test::dom::Arg;
using xmlutil::test::dom::Text;

// Written as a Windows program would be: create the document, load the file,
// and on failure print what the parse error object says.
void ReportLoad(const std::wstring& path) {
    CComPtr<IXMLDOMDocument> doc;
    if (FAILED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IXMLDOMDocument, reinterpret_cast<void**>(&doc)))) {
        return;
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(path.c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    doc->load(source, &ok);
    VariantClear(&source);
    if (ok == VARIANT_TRUE) {
        printf("loaded\n");
        return;
    }
    CComPtr<IXMLDOMParseError> error;
    doc->get_parseError(&error);
    long code = 0, line = 0, linepos = 0;
    BSTR reason = nullptr;
    error->get_errorCode(&code);
    error->get_reason(&reason);
    error->get_line(&line);
    error->get_linepos(&linepos);
    printf("%08X %ls (line %ld, position %ld)\n", static_cast<unsigned>(code), reason, line,
           linepos);
    SysFreeString(reason);
}

std::string Deep(int levels) {
    std::string bytes;
    for (int i = 0; i < levels; ++i) bytes += "<a>";
    return bytes;
}

TEST(ParseError, BrokenFilesAreExplained) {
    const struct {
        const char* what;
        std::string bytes;
        const char* printed;
    } cases[] = {
        {"unclosed tag", "<Root>\n  <Menu>\n    <Item/>\n</Root>\n",
         "80040601 Opening and ending tag mismatch: Menu line 2 and Root (line 4, position 8)\n"},
        {"end inside a tag", "<Root>\n  <Menu>",
         "80040601 Premature end of data in tag Menu line 2 (line 2, position 9)\n"},
        {"bad UTF-8", "<?xml version=\"1.0\"?>\n<Root>caf\xE9</Root>",
         "80040602 Input is not proper UTF-8, indicate encoding ! Bytes: 0xE9 0x3C 0x2F 0x52 "
         "(line 2, position 10)\n"},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"x-none\"?><Root/>",
         "80040602 Unsupported encoding x-none (line 1, position 38)\n"},
        {"bad GB2312", "<?xml version=\"1.0\" encoding=\"gb2312\"?><Root>\xFF\xFF</Root>",
         "80040602 The input holds bytes that are not valid gb2312 (line 0, position 0)\n"},
        {"external entity",
         "<!DOCTYPE Root [<!ENTITY e SYSTEM \"/etc/passwd\">]>\n<Root a=\"&e;\"/>",
         "80040603 Entity 'e' not defined (its declaration names an external resource, which is "
         "never loaded) (line 2, position 13)\n"},
        {"too deep", Deep(300),
         "80040604 Excessive depth in document: 256 (line 1, position 772)\n"},
        {"undeclared prefix", "<Root>\n<p:a/></Root>",
         "80040601 Namespace prefix p on a is not defined (line 2, position 5)\n"},
        {"well-formed", "<Root/>", "loaded\n"},
    };
    TempDir dir;
    const std::string path = dir.File("in.xml");
    for (const auto& c : cases) {
        WriteFileBytes(path, c.bytes);
        CapturedOutput errors(2);
        CapturedOutput out(1);
        ReportLoad(xmlutil::test::Widen(path));
        EXPECT_EQ(out.Finish(), c.printed) << c.what;
        EXPECT_EQ(errors.Finish(), "") << c.what;
    }
    CapturedOutput out(1);
    ReportLoad(dir.WideFile("missing.xml"));
    EXPECT_EQ(out.Finish(), "80070002 The file does not exist (line 0, position 0)\n");
}

CComPtr<IXMLDOMParseError> ErrorOf(IXMLDOMDocument* doc) {
    CComPtr<IXMLDOMParseError> error;
    EXPECT_EQ(doc->get_parseError(&error), S_OK);
    return error;
}

long CodeOf(IXMLDOMDocument* doc) {
    long code = -1;
    ErrorOf(doc)->get_errorCode(&code);
    return code;
}

TEST(ParseError, TextPositionsCountCharactersAndSuccessClears) {
    CComPtr<IXMLDOMDocument> doc = xmlutil::test::dom::NewDocument();
    EXPECT_EQ(CodeOf(doc), 0);
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(doc->loadXML(Arg(L"<r>\n<n>\u4E2D\u6587</x></r>"), &ok), S_FALSE);
    CComPtr<IXMLDOMParseError> error = ErrorOf(doc);
    long line = 0, linepos = 0, filepos = 0;
    error->get_line(&line);
    error->get_linepos(&linepos);
    error->get_filepos(&filepos);
    EXPECT_EQ(line, 2);
    EXPECT_EQ(linepos, 10);  // after "</x", counted in characters
    EXPECT_EQ(filepos, 13);  // 4 + 9 characters before it
    EXPECT_EQ(Text([&](BSTR* s) { return error->get_srcText(s); }), L"<n>\u4E2D\u6587</x></r>");
    EXPECT_EQ(Text([&](BSTR* s) { return error->get_url(s); }), L"");

    // A long line is cut; a later success clears the error; the object read
    // before keeps what it said.
    EXPECT_EQ(doc->loadXML(Arg(L"<r>" + std::wstring(5000, L'x') + L"</q>"), &ok), S_FALSE);
    EXPECT_LE(Text([&](BSTR* s) { return ErrorOf(doc)->get_srcText(s); }).size(), 240u);
    EXPECT_EQ(doc->loadXML(Arg(L"<r/>"), &ok), S_OK);
    EXPECT_EQ(CodeOf(doc), 0);
    EXPECT_EQ(Text([&](BSTR* s) { return ErrorOf(doc)->get_reason(s); }), L"");
    long before = 0;
    error->get_errorCode(&before);
    EXPECT_EQ(before, XMLUTIL_E_NOT_WELL_FORMED);
}

TEST(ParseError, CXMLUtilStillAnswersSFalseAndTheDocumentKnowsWhy) {
    CXMLUtil util;
    TempDir dir;
    EXPECT_EQ(util.Load(dir.WideFile("none.xml")), S_FALSE);
    CComPtr<IXMLDOMDocument> doc = util.GetDomDocument();
    EXPECT_EQ(CodeOf(doc), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Text([&](BSTR* s) { return ErrorOf(doc)->get_url(s); }), dir.WideFile("none.xml"));
}

}  // namespace
