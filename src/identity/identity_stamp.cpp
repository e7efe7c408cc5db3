// SPDX-License-Identifier: MIT
// Stamping elements and new documents with the machine's identity.
#include <string>

#include "xmlutil/XMLUtil.h"

namespace {

// Kept as it is: stored files and the programs that read them rely on it.
constexpr wchar_t kIdentityPrefix[] = L"Win32_";

}  // namespace

long CXMLUtil::AddIDToNode(CComPtr<IXMLDOMNode> node) {
    // Room for the 12 digits and more; zero-filled so that, when the adapter
    // list is unavailable and nothing is written, the identity is the prefix alone.
    wchar_t address[24] = {};
    GetMinAdapterRealMAC(address);
    std::wstring identity = kIdentityPrefix;
    identity += address;
    m_hr = SetNodeAttr(node, L"ID", identity);
    return m_hr;
}

CComPtr<IXMLDOMNode> CXMLUtil::CreateXMLWithID() {
    // The declaration is accepted only on a document without top-level nodes,
    // so a document that already has a root element stops here.
    if (AppendProcessingInstruction() != S_OK) return CComPtr<IXMLDOMNode>();
    CComPtr<IXMLDOMNode> root = AppendChildNode(CComPtr<IXMLDOMNode>(), L"Root", L"");
    // A failure to stamp stays in m_hr: the caller tests IsError() even when
    // it gets the element back.
    if (root) AddIDToNode(root);
    return root;
}
