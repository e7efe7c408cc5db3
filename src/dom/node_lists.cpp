// SPDX-License-Identifier: MIT
#include "dom/node_lists.h"

#include <utility>

#include "platform/xmldom/fast_path_interfaces.h"

namespace xmlutil::dom {

HRESULT TakeAllNodes(IXMLDOMNodeList* list, std::vector<CComPtr<IXMLDOMNode>>& nodes) {
    // The service's own lists hand every node over in one call.
    void* array = nullptr;
    if (list->QueryInterface(xmldom::IID_XmlutilNodeArray, &array) == S_OK) {
        return static_cast<xmldom::INodeArray*>(array)->TakeNodes(nodes);
    }
    long length = 0;
    const HRESULT hr = list->get_length(&length);
    if (hr != S_OK) return hr;
    // Filled aside and swapped in, so running out of memory half way leaves
    // the caller's vector as it was.
    std::vector<CComPtr<IXMLDOMNode>> found;
    found.reserve(static_cast<size_t>(length > 0 ? length : 0));
    for (long i = 0; i < length; ++i) {
        CComPtr<IXMLDOMNode> item;
        // An item that cannot be had is skipped; its result is not reported.
        if (list->get_item(i, &item) == S_OK && item) found.push_back(std::move(item));
    }
    nodes.swap(found);
    return S_OK;
}

xmldom::IAttributeReader* AttributeReaderOf(IXMLDOMNamedNodeMap* map) {
    void* reader = nullptr;
    if (map->QueryInterface(xmldom::IID_XmlutilAttributeReader, &reader) != S_OK) return nullptr;
    return static_cast<xmldom::IAttributeReader*>(reader);
}

xmldom::IDocumentWriter* DocumentWriterOf(IXMLDOMDocument* document) {
    void* writer = nullptr;
    if (document == nullptr ||
        document->QueryInterface(xmldom::IID_XmlutilDocumentWriter, &writer) != S_OK) {
        return nullptr;
    }
    return static_cast<xmldom::IDocumentWriter*>(writer);
}

xmldom::IElementAttributeReader* ElementAttributeReaderOf(IXMLDOMDocument* document) {
    void* reader = nullptr;
    if (document == nullptr ||
        document->QueryInterface(xmldom::IID_XmlutilElementAttributeReader, &reader) != S_OK) {
        return nullptr;
    }
    return static_cast<xmldom::IElementAttributeReader*>(reader);
}

xmldom::ISelectionCounter* SelectionCounterOf(IXMLDOMDocument* document) {
    void* counter = nullptr;
    if (document == nullptr ||
        document->QueryInterface(xmldom::IID_XmlutilSelectionCounter, &counter) != S_OK) {
        return nullptr;
    }
    return static_cast<xmldom::ISelectionCounter*>(counter);
}

}  // namespace xmlutil::dom
