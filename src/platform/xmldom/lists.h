// SPDX-License-Identifier: MIT
// Node lists (live children, fixed selections) and attribute maps.
#pragma once

#include <vector>

#include "platform/xmldom/dom_node.h"
#include "xmlutil/atl.h"

namespace xmlutil::xmldom {

// The children of `parent`, live: edits made later show through it.
HRESULT MakeChildList(DomNode& parent, IXMLDOMNodeList** out);
// A fixed list of nodes, made from wrappers taken at selection time.
HRESULT MakeSelectionList(std::vector<CComPtr<IXMLDOMNode>> nodes, IXMLDOMNodeList** out);
// The attributes and namespace declarations of an element.
HRESULT MakeAttributeMap(DomNode& element, IXMLDOMNamedNodeMap** out);
// The text of the first declaration or attribute of `element` whose base
// name is `name`, as its map's IAttributeReader::Find answers it.
HRESULT FindAttributeText(xmlNode* element, const std::wstring& name, std::wstring& value);

}  // namespace xmlutil::xmldom
