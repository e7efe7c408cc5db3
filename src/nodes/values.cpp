// SPDX-License-Identifier: MIT
// CXMLUtil: reading and writing the text of one node, and the texts of every
// node a path selects. Text is always the DOM service's `text` property: for an
// element, the text of its whole subtree.
#include <utility>

#include "dom/com_holders.h"
#include "xmlutil/XMLUtil.h"

using xmlutil::dom::Bstr;
using xmlutil::dom::BstrArg;

long CXMLUtil::GetNodeValue(CComPtr<IXMLDOMNode> node, std::wstring& value) {
    // An empty handle is refused before the output is reset: nothing changes.
    if (!node) return m_hr = E_POINTER;
    value.clear();
    Bstr text;
    if ((m_hr = node->get_text(text.out())) != S_OK) return m_hr;
    value = text.str();
    return m_hr;
}

long CXMLUtil::GetNodeValue(CComPtr<IXMLDOMNode> node, std::wstring& name, std::wstring& value) {
    if (!node) return m_hr = E_POINTER;
    name.clear();
    Bstr baseName;
    if ((m_hr = node->get_baseName(baseName.out())) != S_OK) return m_hr;
    name = baseName.str();
    return m_hr = GetNodeValue(node, value);
}

long CXMLUtil::GetNodeValue(std::wstring xpath, std::wstring& value) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = GetNodeValue(node, value) : m_hr;
}

long CXMLUtil::SetNodeValue(CComPtr<IXMLDOMNode> node, std::wstring value) {
    if (!node) return m_hr = E_POINTER;
    const BstrArg text(value);
    return m_hr = node->put_text(text.get());
}

long CXMLUtil::SetNodeValue(std::wstring xpath, std::wstring value) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK
               ? m_hr = SetNodeValue(node, std::move(value))
               : m_hr;
}

long CXMLUtil::GetNodeValues(std::wstring xpath, std::vector<std::wstring>& values) {
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    if (GetNodes(std::move(xpath), nodes) != S_OK) return m_hr;
    values.clear();
    std::wstring text;
    for (const CComPtr<IXMLDOMNode>& node : nodes) {
        // A node whose text cannot be read leaves no entry; the loop goes on,
        // and the result is that of the last read.
        if (GetNodeValue(node, text) == S_OK) values.push_back(std::move(text));
    }
    return m_hr;
}
