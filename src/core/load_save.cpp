// SPDX-License-Identifier: MIT
// CXMLUtil: parsing text and files into the document, saving it, serialising
// it or one node, and giving a new document its XML declaration.
#include "dom/com_holders.h"
#include "xmlutil/XMLUtil.h"

using xmlutil::dom::Bstr;
using xmlutil::dom::BstrArg;

namespace {

// A load counts only when the success flag says so: a false flag is S_FALSE
// whatever the call returned, failure codes included.
HRESULT LoadOutcome(HRESULT hr, VARIANT_BOOL loaded) {
    return loaded == VARIANT_FALSE ? S_FALSE : hr;
}

}  // namespace

long CXMLUtil::LoadXML(const wchar_t* xml) {
    const Bstr text(xml);
    if (!m_pDoc) return m_hr = E_POINTER;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = m_pDoc->loadXML(text.get(), &loaded);
    return m_hr = LoadOutcome(hr, loaded);
}

// The path is copied before anything else, so running out of memory there
// throws whatever the document holds: CAtlException for Load (a variant
// copy), _com_error for Save (a string copy).
long CXMLUtil::Load(std::wstring path) {
    const BstrArg source(path, BstrArg::Failure::kAtlException);
    if (!m_pDoc) return m_hr = E_POINTER;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = m_pDoc->load(source.variant(), &loaded);
    return m_hr = LoadOutcome(hr, loaded);
}

long CXMLUtil::Save(std::wstring path) {
    const BstrArg destination(path);
    if (!m_pDoc) return m_hr = E_POINTER;
    return m_hr = m_pDoc->save(destination.variant());
}

long CXMLUtil::GetXML(std::wstring& xml, CComPtr<IXMLDOMNode> node) {
    // A given node is serialised even by an object without a document.
    IXMLDOMNode* target = node ? node.p : m_pDoc.p;
    if (target == nullptr) return m_hr = E_POINTER;
    Bstr text;
    if ((m_hr = target->get_xml(text.out())) != S_OK) return m_hr;
    xml = text.str();
    return m_hr;
}

long CXMLUtil::AppendProcessingInstruction() {
    const Bstr target(L"xml");
    const Bstr data(L"version=\"1.0\" encoding=\"gb2312\"");
    if (!m_pDoc) return m_hr = E_POINTER;
    CComPtr<IXMLDOMProcessingInstruction> declaration;
    m_hr = m_pDoc->createProcessingInstruction(target.get(), data.get(), &declaration);
    if (m_hr != S_OK) return m_hr;
    CComPtr<IXMLDOMNode> appended;
    return m_hr = m_pDoc->appendChild(declaration, &appended);
}
