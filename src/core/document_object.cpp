// SPDX-License-Identifier: MIT
// CXMLUtil's lifetime: creating or sharing its document, copies, the
// recorded result.
#include "core/entry_point.h"
#include "dom/com_holders.h"
#include "xmlutil/XMLUtil.h"

using xmlutil::dom::Bstr;

namespace {

// A static archive links only the objects a program refers to, and nothing
// calls the entry point by name: this reference brings its object (and so its
// load-time constructor) into every program that makes a CXMLUtil.
using EntryPoint = decltype(&xmlutil::core::DllMain);
[[maybe_unused]] __attribute__((used)) const EntryPoint kEntryPoint = &xmlutil::core::DllMain;

}  // namespace

CXMLUtil::CXMLUtil(short async) : m_hr(S_OK) {
    CreateEmptyXML(async);
}

CXMLUtil::CXMLUtil(const CXMLUtil& other) : m_pDoc(other.m_pDoc), m_hr(other.m_hr) {}

// Shares the caller's document as it is: no property is touched.
CXMLUtil::CXMLUtil(CComPtr<IXMLDOMDocument> doc) : m_pDoc(doc), m_hr(S_OK) {}

// Copies the node by serialising it and parsing the text into a new document,
// so the copy and the node's document never see each other's changes.
CXMLUtil::CXMLUtil(CComPtr<IXMLDOMNode> node) : m_hr(S_OK) {
    if (CreateEmptyXML(VARIANT_FALSE) != S_OK) return;
    // No node to copy: the object keeps its empty document and says so.
    if (!node) {
        m_hr = E_POINTER;
        return;
    }
    Bstr xml;
    if ((m_hr = node->get_xml(xml.out())) != S_OK) return;
    // The markup holds exactly the node's text nodes (nothing is indented),
    // white space an ancestor's xml:space kept or the caller added included:
    // all are kept. The new document's setting is put back afterwards.
    m_pDoc->put_preserveWhiteSpace(VARIANT_TRUE);
    LoadXML(xml.get());
    m_pDoc->put_preserveWhiteSpace(VARIANT_FALSE);
}

CXMLUtil& CXMLUtil::operator=(const CXMLUtil& other) {
    // CComPtr takes the new reference before dropping the old one and does
    // nothing when both already hold the same document.
    m_pDoc = other.m_pDoc;
    m_hr = other.m_hr;
    return *this;
}

CXMLUtil::~CXMLUtil() = default;

int CXMLUtil::IsError() {
    return m_hr != S_OK ? 1 : 0;
}

long CXMLUtil::CreateEmptyXML(short async) {
    // A document already held is let go first, so a second call leaks nothing.
    m_pDoc.Release();
    m_hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument,
                            reinterpret_cast<void**>(&m_pDoc));
    if (m_hr != S_OK) {
        m_pDoc.Release();
        return m_hr;
    }
    if ((m_hr = m_pDoc->put_async(async)) != S_OK) return m_hr;
    return m_hr = m_pDoc->put_validateOnParse(VARIANT_FALSE);
}
