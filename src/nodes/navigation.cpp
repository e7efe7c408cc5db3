// SPDX-License-Identifier: MIT
// CXMLUtil: walking the children of a node. A child is any direct child node,
// of every type, so the first-child/next-sibling walk, the child list and the
// child count all see the same sequence.
#include <cstddef>
#include <utility>

#include "dom/node_lists.h"
#include "xmlutil/XMLUtil.h"

// The output is emptied first, also when an empty node handle is refused, as
// it is when the DOM step fails.
long CXMLUtil::GetFirstChildNode(CComPtr<IXMLDOMNode> node, CComPtr<IXMLDOMNode>& child) {
    child.Release();
    if (!node) return m_hr = E_POINTER;
    return m_hr = node->get_firstChild(&child);
}

long CXMLUtil::GetFirstChildNode(std::wstring xpath, CComPtr<IXMLDOMNode>& child) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = GetFirstChildNode(node, child)
                                                         : m_hr;
}

long CXMLUtil::GetNextSiblingNode(CComPtr<IXMLDOMNode> node, CComPtr<IXMLDOMNode>& sibling) {
    sibling.Release();
    if (!node) return m_hr = E_POINTER;
    return m_hr = node->get_nextSibling(&sibling);
}

long CXMLUtil::GetChildNodes(CComPtr<IXMLDOMNode> node,
                             std::vector<CComPtr<IXMLDOMNode>>& children) {
    children.clear();
    if (!node) return m_hr = E_POINTER;
    CComPtr<IXMLDOMNodeList> list;
    if ((m_hr = node->get_childNodes(&list)) != S_OK) return m_hr;
    // An item that cannot be read is skipped; its result is not recorded.
    return m_hr = xmlutil::dom::TakeAllNodes(list, children);
}

long CXMLUtil::GetChildNodes(std::wstring xpath, std::vector<CComPtr<IXMLDOMNode>>& children) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = GetChildNodes(node, children)
                                                         : m_hr;
}

long CXMLUtil::GetChildNodeCount(CComPtr<IXMLDOMNode> node, long& count) {
    if (!node) return m_hr = E_POINTER;
    CComPtr<IXMLDOMNodeList> list;
    if ((m_hr = node->get_childNodes(&list)) != S_OK) return m_hr;
    long length = 0;
    if ((m_hr = list->get_length(&length)) != S_OK) return m_hr;
    count = length;
    return m_hr;
}

long CXMLUtil::GetChildNodeCount(std::wstring xpath, long& count) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = GetChildNodeCount(node, count)
                                                         : m_hr;
}
