// SPDX-License-Identifier: MIT
// load of a file's bytes held in a byte array (VT_ARRAY | VT_UI1): parsed as
// the file would be, its declared encoding honoured.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/dom_test_util.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace {

using xmlutil::test::dom::NewDocument;
using xmlutil::test::dom::TextOf;

// Loads `bytes` through a byte array; the array is the caller's throughout.
HRESULT LoadBytes(IXMLDOMDocument* doc, const std::string& bytes, VARIANT_BOOL* ok) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = array;
    const HRESULT hr = doc->load(source, ok);
    VariantClear(&source);  // destroys the array
    return hr;
}

TEST(ByteArrayLoad, HonoursTheDeclaredEncoding) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(LoadBytes(doc, "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xe9</a>", &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(TextOf(doc), L"\u00e9");
}

TEST(ByteArrayLoad, RefusesWhatAFileLoadRefuses) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(LoadBytes(doc, "<a>\n<b></a>", &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    CComPtr<IXMLDOMParseError> error;
    ASSERT_EQ(doc->get_parseError(&error), S_OK);
    long line = 0;
    error->get_line(&line);
    EXPECT_EQ(line, 2);
    EXPECT_EQ(LoadBytes(doc, std::string("<a/>\0", 5), &ok), S_FALSE);
    EXPECT_EQ(LoadBytes(doc, "", &ok), S_FALSE);
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_ARRAY | VT_UI1;
    none.parray = nullptr;
    EXPECT_EQ(doc->load(none, &ok), E_INVALIDARG);
}

}  // namespace
