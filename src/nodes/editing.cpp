// SPDX-License-Identifier: MIT
// Tree editing: creating elements, appending new or copied nodes, removing a
// node, a given child or all children of a node.
#include <string>
#include <utility>
#include <vector>

#include "dom/com_holders.h"
#include "dom/node_lists.h"
#include "dom/utf8_out.h"
#include "xmlutil/XMLUtil.h"

using xmlutil::dom::Bstr;
using xmlutil::dom::BstrArg;
using xmlutil::dom::Variant;

namespace {

// The line the clone overload names in its message, kept for callers that
// search their logs for it.
constexpr int kCloneFailureLine = 449;

// "create Node:%s failed!\n" or "append Node:%s failed!\n" for `verb`,
// with the name up to its first NUL.
void PrintNameMessage(const wchar_t* verb, const std::wstring& name) {
    xmlutil::dom::PrintToStdout(std::wstring(verb) + L" Node:" + name.c_str() + L" failed!\n");
}

// Asks the document for a new element without namespace, by node type; the
// result is what the document answered (E_POINTER when there is no document).
HRESULT CreateElement(IXMLDOMDocument* doc, const BstrArg& name, CComPtr<IXMLDOMNode>& element) {
    if (doc == nullptr) return E_POINTER;
    const Variant type = Variant::Int32(NODE_ELEMENT);
    const HRESULT hr = doc->createNode(type.get(), name.get(), nullptr, &element);
    // Whatever the service may have handed back with a failure is dropped.
    if (hr != S_OK) element.Release();
    return hr;
}

// The node under which an append lands: `parent`, or the document itself
// when the caller passed an empty handle.
IXMLDOMNode* AppendTarget(const CComPtr<IXMLDOMNode>& parent, IXMLDOMDocument* doc) {
    if (parent) return parent.p;
    return doc;
}

// Appends `child` under `target`, as appendChild answers. A node object of
// the caller's own that answers S_OK without handing back a node has not
// appended anything usable: that is E_POINTER, as a missing target is.
HRESULT Append(IXMLDOMNode* target, IXMLDOMNode* child, CComPtr<IXMLDOMNode>& appended) {
    if (target == nullptr) return E_POINTER;
    const HRESULT hr = target->appendChild(child, &appended);
    return hr == S_OK && appended == nullptr ? E_POINTER : hr;
}

}  // namespace

CComPtr<IXMLDOMNode> CXMLUtil::CreateNode(std::wstring name, std::wstring value) {
    // Both strings are copied before the document is touched, so running out of
    // memory for either leaves the tree as it was.
    const BstrArg tagName(name);
    const BstrArg text(value);
    CComPtr<IXMLDOMNode> element;
    m_hr = CreateElement(m_pDoc, tagName, element);
    if (m_hr != S_OK) {
        PrintNameMessage(L"create", name);
        return CComPtr<IXMLDOMNode>();
    }
    // The element is handed back even when its text cannot be set; m_hr then
    // tells the caller that the text was not stored.
    m_hr = element->put_text(text.get());
    return element;
}

CComPtr<IXMLDOMNode> CXMLUtil::AppendChildNode(CComPtr<IXMLDOMNode> parent, std::wstring name,
                                               std::wstring value) {
    // Both strings are copied before the document is touched, so running out of
    // memory for either leaves the tree as it was. The element is made without
    // text: the text is set once, after appending.
    const BstrArg tagName(name);
    const BstrArg text(value);
    CComPtr<IXMLDOMNode> element;
    m_hr = CreateElement(m_pDoc, tagName, element);
    if (m_hr != S_OK) PrintNameMessage(L"create", name);

    // The append is asked for even without an element: the service refuses a
    // null child, so a failed creation reports both messages.
    CComPtr<IXMLDOMNode> appended;
    m_hr = Append(AppendTarget(parent, m_pDoc), element, appended);
    if (m_hr != S_OK) {
        PrintNameMessage(L"append", name);
        return CComPtr<IXMLDOMNode>();
    }
    // A text the service cannot store (one XML cannot hold) is recorded, and
    // the appended element is still returned so the caller can see where it is.
    m_hr = appended->put_text(text.get());
    return appended;
}

CComPtr<IXMLDOMNode> CXMLUtil::AppendChildNode(CComPtr<IXMLDOMNode> parent,
                                               CComPtr<IXMLDOMNode> node, short deep) {
    // Nothing to copy: the earlier recorded result is deliberately kept.
    if (!node) return CComPtr<IXMLDOMNode>();

    CComPtr<IXMLDOMNode> copy;
    m_hr = node->cloneNode(deep, &copy);
    if (m_hr != S_OK) {
        xmlutil::dom::PrintToStdout(L"CXMLUtil::AppendChildNode:" +
                                    std::to_wstring(kCloneFailureLine));
        return CComPtr<IXMLDOMNode>();
    }
    CComPtr<IXMLDOMNode> appended;
    m_hr = Append(AppendTarget(parent, m_pDoc), copy, appended);
    if (m_hr != S_OK) return CComPtr<IXMLDOMNode>();
    return appended;
}

long CXMLUtil::RemoveChild(CComPtr<IXMLDOMNode> parent, CComPtr<IXMLDOMNode> child) {
    if (!parent || !child) return m_hr = E_POINTER;
    // The detached node is released when `removed` goes out of scope; handles
    // the caller holds keep it alive.
    CComPtr<IXMLDOMNode> removed;
    m_hr = parent->removeChild(child, &removed);
    return m_hr;
}

long CXMLUtil::RemoveNode(CComPtr<IXMLDOMNode> node) {
    if (!node) return m_hr = E_POINTER;
    CComPtr<IXMLDOMNode> parent;
    m_hr = node->get_parentNode(&parent);
    if (m_hr != S_OK) return m_hr;
    m_hr = RemoveChild(parent, node);
    return m_hr;
}

long CXMLUtil::RemoveNode(std::wstring xpath) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = RemoveNode(node) : m_hr;
}

long CXMLUtil::RemoveAllChild(CComPtr<IXMLDOMNode> node) {
    if (!node) return m_hr = E_POINTER;
    CComPtr<IXMLDOMNodeList> children;
    m_hr = node->get_childNodes(&children);
    if (m_hr != S_OK) return m_hr;
    // Every child is fetched before any is removed: the child list follows
    // removals as they happen, so removing while indexing would skip children.
    // A child that cannot be fetched is skipped without being recorded.
    std::vector<CComPtr<IXMLDOMNode>> fetched;
    m_hr = xmlutil::dom::TakeAllNodes(children, fetched);
    if (m_hr != S_OK || fetched.empty()) return m_hr;
    // A failed removal does not stop the others. S_OK must mean that every
    // fetched child is gone, so a failure is not hidden by later successes:
    // the result is the last failure, or S_OK when every removal succeeded.
    HRESULT lastFailure = S_OK;
    for (const CComPtr<IXMLDOMNode>& child : fetched) {
        if (RemoveChild(node, child) != S_OK) lastFailure = m_hr;
    }
    return m_hr = lastFailure;
}

long CXMLUtil::RemoveAllChild(std::wstring xpath) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = RemoveAllChild(node) : m_hr;
}
