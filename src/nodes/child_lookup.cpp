// SPDX-License-Identifier: MIT
// CXMLUtil: finding a direct child by its name without prefix, and reading or
// writing that child's text. The first child in document order that matches
// wins; a missing child is never created.
#include <string_view>
#include <utility>

#include "dom/com_holders.h"
#include "xmlutil/XMLUtil.h"

using xmlutil::dom::Bstr;

namespace {

// The string up to its first NUL, without a copy; a null string reads as "".
std::wstring_view View(const Bstr& text) {
    return text.isNull() ? std::wstring_view() : std::wstring_view(text.get());
}

}  // namespace

CComPtr<IXMLDOMNode> CXMLUtil::GetChildNode(CComPtr<IXMLDOMNode> node, std::wstring name) {
    if (!node) {
        m_hr = E_POINTER;
        return {};
    }
    CComPtr<IXMLDOMNodeList> list;
    if ((m_hr = node->get_childNodes(&list)) != S_OK) return {};
    long length = 0;
    if ((m_hr = list->get_length(&length)) != S_OK) return {};
    Bstr baseName;
    for (long index = 0; index < length; ++index) {
        // A child whose item or name cannot be read is passed over; those
        // results are not recorded. Names compare whole and case-sensitively;
        // text, comment and CDATA children have the empty base name, which
        // the empty name matches like any other.
        CComPtr<IXMLDOMNode> child;
        if (list->get_item(index, &child) != S_OK || !child) continue;
        if (child->get_baseName(baseName.out()) != S_OK) continue;
        if (View(baseName) == name) return child;
    }
    m_hr = S_FALSE;
    return {};
}

long CXMLUtil::GetChildNodeValue(CComPtr<IXMLDOMNode> node, std::wstring name,
                                 std::wstring& value) {
    const CComPtr<IXMLDOMNode> child = GetChildNode(std::move(node), std::move(name));
    // No child: m_hr holds why (S_FALSE when none matched) and value is kept.
    return child ? m_hr = GetNodeValue(child, value) : m_hr;
}

long CXMLUtil::SetChildNodeVaule(CComPtr<IXMLDOMNode> node, std::wstring name, std::wstring value) {
    const CComPtr<IXMLDOMNode> child = GetChildNode(std::move(node), std::move(name));
    return child ? m_hr = SetNodeValue(child, std::move(value)) : m_hr;
}
