// SPDX-License-Identifier: MIT
// CXMLUtil: handing out the document and its root element, and selecting
// nodes by XPath expression (the resolver behind every path overload).
#include <utility>

#include "dom/com_holders.h"
#include "dom/node_lists.h"
#include "xmlutil/XMLUtil.h"

using xmlutil::dom::Bstr;
using xmlutil::dom::BstrArg;

namespace {

// Where an expression is evaluated: the context node, or the whole document
// when the caller gave none. Null when neither exists.
IXMLDOMNode* QueryTarget(const CComPtr<IXMLDOMNode>& context, IXMLDOMDocument* doc) {
    if (context) return context.p;
    return doc;
}

}  // namespace

// Not recorded: handing out a reference cannot fail.
CComPtr<IXMLDOMDocument> CXMLUtil::GetDomDocument() {
    return m_pDoc;
}

// GetDOMElement and GetSingleNode empty their output before anything can
// fail, an object without a document included.
long CXMLUtil::GetDOMElement(CComPtr<IXMLDOMElement>& element) {
    element.Release();
    if (!m_pDoc) return m_hr = E_POINTER;
    return m_hr = m_pDoc->get_documentElement(&element);
}

long CXMLUtil::GetRootNode(CComPtr<IXMLDOMNode>& node) {
    if (!m_pDoc) return m_hr = E_POINTER;
    CComPtr<IXMLDOMElement> root;
    // Unlike GetDOMElement, `node` keeps what it held when there is no root.
    if ((m_hr = m_pDoc->get_documentElement(&root)) != S_OK) return m_hr;
    // An element is a node: no interface query is needed, none can fail.
    node = root.p;
    return m_hr;
}

long CXMLUtil::GetSingleNode(std::wstring xpath, CComPtr<IXMLDOMNode>& node,
                             CComPtr<IXMLDOMNode> context) {
    const BstrArg expression(xpath);
    node.Release();
    IXMLDOMNode* target = QueryTarget(context, m_pDoc);
    if (target == nullptr) return m_hr = E_POINTER;
    m_hr = target->selectSingleNode(expression.get(), &node);
    // Only a match leaves a node in the output.
    if (m_hr != S_OK) node.Release();
    return m_hr;
}

long CXMLUtil::GetNodes(std::wstring xpath, std::vector<CComPtr<IXMLDOMNode>>& nodes,
                        CComPtr<IXMLDOMNode> context) {
    const BstrArg expression(xpath);
    IXMLDOMNode* target = QueryTarget(context, m_pDoc);
    if (target == nullptr) return m_hr = E_POINTER;
    CComPtr<IXMLDOMNodeList> list;
    if ((m_hr = target->selectNodes(expression.get(), &list)) != S_OK) return m_hr;
    // An item that cannot be had is skipped; its result is not recorded.
    return m_hr = xmlutil::dom::TakeAllNodes(list, nodes);
}

long CXMLUtil::GetNodesCount(std::wstring xpath, long& count) {
    const BstrArg expression(xpath);
    if (!m_pDoc) return m_hr = E_POINTER;
    // The service's own document counts as it selects: no handle per match.
    if (xmlutil::xmldom::ISelectionCounter* counter = xmlutil::dom::SelectionCounterOf(m_pDoc)) {
        return m_hr = counter->CountSelected(expression.get(), count);
    }
    CComPtr<IXMLDOMNodeList> list;
    if ((m_hr = m_pDoc->selectNodes(expression.get(), &list)) != S_OK) return m_hr;
    long length = 0;
    if ((m_hr = list->get_length(&length)) != S_OK) return m_hr;
    count = length;
    return m_hr;
}
