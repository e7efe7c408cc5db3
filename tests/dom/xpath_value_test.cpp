// SPDX-License-Identifier: MIT
// The document's XPath value extension: numbers, strings and booleans from
// expressions that select no nodes, reached by QueryInterface.
#include "xmlutil/xpath_value.h"

#include <gtest/gtest.h>

#include "support/dom_test_util.h"

namespace {

using xmlutil::test::dom::Arg;
using xmlutil::test::dom::Parsed;

class XPathValueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        doc_ = Parsed(L"<r><i n='1'>a</i><i n='2'>b</i></r>");
        ASSERT_EQ(doc_.QueryInterface(&values_), S_OK);
        VariantInit(&value_);
    }
    void TearDown() override { VariantClear(&value_); }

    HRESULT Evaluate(const wchar_t* expression) {
        VariantClear(&value_);
        return values_->evaluate(Arg(expression), &value_);
    }

    CComPtr<IXMLDOMDocument> doc_;
    CComPtr<IXmlutilXPathValue> values_;
    VARIANT value_;
};

TEST_F(XPathValueTest, GivesNumbersStringsAndBooleans) {
    ASSERT_EQ(Evaluate(L"count(//i) + sum(//@n) div 2"), S_OK);
    EXPECT_EQ(value_.vt, VT_R8);
    EXPECT_EQ(value_.dblVal, 3.5);
    ASSERT_EQ(Evaluate(L"concat(//i[2], '!')"), S_OK);
    ASSERT_EQ(value_.vt, VT_BSTR);
    EXPECT_STREQ(value_.bstrVal, L"b!");
    ASSERT_EQ(Evaluate(L"//i/@n = 2"), S_OK);
    EXPECT_EQ(value_.vt, VT_BOOL);
    EXPECT_EQ(value_.boolVal, VARIANT_TRUE);
    // A node-set gives the string value of its first node.
    ASSERT_EQ(Evaluate(L"//i"), S_OK);
    EXPECT_STREQ(value_.bstrVal, L"a");
}

TEST_F(XPathValueTest, RefusesWhatDoesNotEvaluate) {
    EXPECT_EQ(Evaluate(L"count(//i"), E_FAIL);
    EXPECT_EQ(value_.vt, VT_EMPTY);
    EXPECT_EQ(values_->evaluate(Arg(L"1"), nullptr), E_POINTER);
}

TEST_F(XPathValueTest, IsTheDocumentAndKeepsItAlive) {
    CComPtr<IUnknown> fromDocument;
    CComPtr<IUnknown> fromValues;
    ASSERT_EQ(doc_.QueryInterface(&fromDocument), S_OK);
    ASSERT_EQ(values_.QueryInterface(&fromValues), S_OK);
    EXPECT_EQ(fromDocument.p, fromValues.p);
    fromDocument.Release();
    fromValues.Release();
    doc_.Release();
    ASSERT_EQ(Evaluate(L"string(//i[2]/@n)"), S_OK);
    EXPECT_STREQ(value_.bstrVal, L"2");
}

}  // namespace
