// SPDX-License-Identifier: MIT
// `//name` with an unprefixed name, the commonest selection there is,
// answered by one walk of the tree: a few comparisons per node, where
// libxml2's streamed evaluation pushes every node through its pattern
// machine (several times the work; on a tree of millions of nodes most of
// the time a selection takes).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/xmldom/engine/xml_ptr.h"
#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

// The name of an expression that is exactly `//` and an unprefixed ASCII
// name; nothing for any other expression (left to libxml2).
std::optional<std::string_view> DescendantNameTest(std::string_view expression);

// Hands `visit` the elements of `doc` named `name` in no namespace, in
// document order, as XPath's descendant axis from the root finds them (the
// content an entity reference stands for is not its child there), each while
// the walk is at it; only the first with `firstOnly`. A failure `visit`
// returns ends the walk and is its result.
HRESULT VisitElementsNamed(xmlDoc* doc, const std::string& name, bool firstOnly,
                           const std::function<HRESULT(xmlNode*)>& visit);

}  // namespace xmlutil::xmldom
