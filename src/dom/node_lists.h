// SPDX-License-Identifier: MIT
// The DOM service's extension interfaces, asked for where the library's
// members can use them: every node of a node list and every attribute of a
// map at once, an attribute set in one step.
#pragma once

#include <vector>

#include "platform/xmldom/fast_path_interfaces.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace xmlutil::dom {

// Replaces `nodes` with the nodes of `list`, in order; a node that cannot be
// had is left out. Returns the result of reading the list (S_OK, or the
// failure of get_length, or E_OUTOFMEMORY), with `nodes` untouched on
// failure. Use it on a list the caller alone holds and drops afterwards: a
// selection list of the DOM service hands its nodes over and is left empty.
HRESULT TakeAllNodes(IXMLDOMNodeList* list, std::vector<CComPtr<IXMLDOMNode>>& nodes);

// The DOM service's reader of an attribute map's base names and texts, or
// null for a map of another implementation (read it item by item then). Not
// counted: valid while the caller holds the map.
xmldom::IAttributeReader* AttributeReaderOf(IXMLDOMNamedNodeMap* map);
// The same for the service's document objects (null for a null document).
xmldom::IDocumentWriter* DocumentWriterOf(IXMLDOMDocument* document);

// The document's reader of its elements' attributes, or null when it is not
// the service's own.
xmldom::IElementAttributeReader* ElementAttributeReaderOf(IXMLDOMDocument* document);

// The document's selection counter, or null when it is not the service's own.
xmldom::ISelectionCounter* SelectionCounterOf(IXMLDOMDocument* document);

}  // namespace xmlutil::dom
