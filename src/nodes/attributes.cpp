// SPDX-License-Identifier: MIT
// CXMLUtil: reading and writing attributes, singly and as parallel lists of
// names and values. Reading lists every attribute under its name without
// prefix and searches that list; writing creates a new attribute in the
// object's own document and places it in the node's attribute map, where it
// replaces any attribute of the same name.
#include <cstddef>
#include <utility>

#include "dom/com_holders.h"
#include "dom/node_lists.h"
#include "xmlutil/XMLUtil.h"

using xmlutil::dom::Bstr;
using xmlutil::dom::BstrArg;
using xmlutil::dom::Variant;

namespace {

// Walks a map of another implementation item by item: calls `visit` with
// each attribute whose item and base name can be read (the others are
// skipped, nothing recorded) until it answers true.
template <class Visit>
void ForEachNamedItem(IXMLDOMNamedNodeMap* attributes, long length, Visit&& visit) {
    Bstr baseName;
    for (long index = 0; index < length; ++index) {
        CComPtr<IXMLDOMNode> attribute;
        if (attributes->get_item(index, &attribute) != S_OK || !attribute) continue;
        if (attribute->get_baseName(baseName.out()) != S_OK) continue;
        if (visit(attribute.p, baseName)) return;
    }
}

}  // namespace

long CXMLUtil::GetNodeAttr(CComPtr<IXMLDOMNode> node, std::wstring name, std::wstring& value) {
    // The same answer as searching the lists GetNodeAttrs gives (the first
    // attribute whose base name and text can both be read and whose base
    // name matches), without reading the text of the others.
    if (!node) return m_hr = E_POINTER;
    // The service's own elements answer without an attribute map; what else
    // they could answer (running out of memory) is left to the way below.
    if (xmlutil::xmldom::IElementAttributeReader* reader =
            xmlutil::dom::ElementAttributeReaderOf(m_pDoc)) {
        bool handled = false;
        const HRESULT found = reader->FindAttributeOf(node, name, value, handled);
        if (handled && (found == S_OK || found == S_FALSE)) {
            if (found == S_FALSE) value.clear();
            return m_hr = S_OK;
        }
    }
    CComPtr<IXMLDOMNamedNodeMap> attributes;
    // No attribute map (S_FALSE) or a failure: value is kept as passed.
    if ((m_hr = node->get_attributes(&attributes)) != S_OK) return m_hr;
    // The service's own maps answer at once (every item of theirs can be read).
    if (xmlutil::xmldom::IAttributeReader* reader = xmlutil::dom::AttributeReaderOf(attributes)) {
        const HRESULT found = reader->Find(name, value);
        if (found == S_OK) return m_hr;
        if (found == S_FALSE) {
            value.clear();
            return m_hr;
        }
    }
    long length = 0;
    if ((m_hr = attributes->get_length(&length)) != S_OK) return m_hr;
    bool found = false;
    Bstr text;
    ForEachNamedItem(attributes, length, [&](IXMLDOMNode* attribute, const Bstr& baseName) {
        // Compared as the lists hold it: the text up to its first NUL.
        if (name.compare(baseName.isNull() ? L"" : baseName.get()) != 0) return false;
        if (attribute->get_text(text.out()) != S_OK) return false;
        value = text.str();
        return found = true;
    });
    if (!found) value.clear();
    return m_hr;
}

long CXMLUtil::GetNodeAttr(std::wstring xpath, std::wstring name, std::wstring& value) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK
               ? m_hr = GetNodeAttr(node, std::move(name), value)
               : m_hr;
}

long CXMLUtil::SetNodeAttr(CComPtr<IXMLDOMNode> node, std::wstring name, std::wstring value) {
    if (!node || !m_pDoc) return m_hr = E_POINTER;
    // Both copies are made before the first DOM call, so running out of
    // memory here leaves the document and m_hr as they were.
    const BstrArg nodeValue(value, BstrArg::Failure::kAtlException);
    const BstrArg attributeName(name);
    // The service's own documents do the four steps below in one.
    if (xmlutil::xmldom::IDocumentWriter* writer = xmlutil::dom::DocumentWriterOf(m_pDoc)) {
        bool handled = false;
        const HRESULT hr =
            writer->SetAttributeOf(node, attributeName.get(), nodeValue.get(), handled);
        if (handled) return m_hr = hr;
    }
    // The attribute is made by the object's own document, whichever document
    // the node belongs to; until setNamedItem it is attached nowhere.
    CComPtr<IXMLDOMAttribute> attribute;
    if ((m_hr = m_pDoc->createAttribute(attributeName.get(), &attribute)) != S_OK) return m_hr;
    if ((m_hr = attribute->put_nodeValue(nodeValue.variant())) != S_OK) return m_hr;
    CComPtr<IXMLDOMNamedNodeMap> attributes;
    if ((m_hr = node->get_attributes(&attributes)) != S_OK) return m_hr;
    return m_hr = attributes->setNamedItem(attribute, nullptr);
}

long CXMLUtil::SetNodeAttr(std::wstring xpath, std::wstring name, std::wstring value) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK
               ? m_hr = SetNodeAttr(node, std::move(name), std::move(value))
               : m_hr;
}

long CXMLUtil::GetNodeAttrs(CComPtr<IXMLDOMNode> node, std::vector<std::wstring>& names,
                            std::vector<std::wstring>& values) {
    if (!node) return m_hr = E_POINTER;
    CComPtr<IXMLDOMNamedNodeMap> attributes;
    if ((m_hr = node->get_attributes(&attributes)) != S_OK) return m_hr;
    // The service's own maps answer at once (every item of theirs can be read).
    if (xmlutil::xmldom::IAttributeReader* reader = xmlutil::dom::AttributeReaderOf(attributes)) {
        if (reader->ReadAll(names, values) == S_OK) return m_hr;
    }
    long length = 0;
    if ((m_hr = attributes->get_length(&length)) != S_OK) return m_hr;
    // The lists are replaced, never appended to.
    names.clear();
    values.clear();
    // An attribute whose item, name or text cannot be read leaves no entry in
    // either list, so the lists stay parallel; nothing is recorded.
    Bstr text;
    ForEachNamedItem(attributes, length, [&](IXMLDOMNode* attribute, const Bstr& baseName) {
        if (attribute->get_text(text.out()) == S_OK) {
            names.push_back(baseName.str());
            values.push_back(text.str());
        }
        return false;
    });
    return m_hr;
}

long CXMLUtil::GetNodeAttrs(std::wstring xpath, std::vector<std::wstring>& names,
                            std::vector<std::wstring>& values) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = GetNodeAttrs(node, names, values)
                                                         : m_hr;
}

long CXMLUtil::SetNodeAttrs(CComPtr<IXMLDOMNode> node, std::vector<std::wstring>& names,
                            std::vector<std::wstring>& values) {
    if (!node) return m_hr = E_POINTER;
    // Lists of different lengths are not pairs: nothing is written.
    if (names.size() != values.size()) return m_hr = S_FALSE;
    // Two empty lists write nothing and succeed.
    m_hr = S_OK;
    for (std::size_t i = 0; i < names.size(); ++i) {
        // Pairs already written stay written when a later one fails.
        if (SetNodeAttr(node, names[i], values[i]) != S_OK) return m_hr;
    }
    return m_hr;
}

long CXMLUtil::SetNodeAttrs(std::wstring xpath, std::vector<std::wstring>& names,
                            std::vector<std::wstring>& values) {
    CComPtr<IXMLDOMNode> node;
    return GetSingleNode(std::move(xpath), node) == S_OK ? m_hr = SetNodeAttrs(node, names, values)
                                                         : m_hr;
}
