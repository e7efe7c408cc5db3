// SPDX-License-Identifier: MIT
// Reading every node of a node list at once.
#pragma once

#include <vector>

#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace xmlutil::dom {

// Replaces `nodes` with the nodes of `list`, in order; a node that cannot be
// had is left out. Returns the result of reading the list (S_OK, or the
// failure of get_length, or E_OUTOFMEMORY), with `nodes` untouched on
// failure. Use it on a list the caller alone holds and drops afterwards: a
// selection list of the DOM service hands its nodes over and is left empty.
HRESULT TakeAllNodes(IXMLDOMNodeList* list, std::vector<CComPtr<IXMLDOMNode>>& nodes);

}  // namespace xmlutil::dom
