// SPDX-License-Identifier: MIT
// Entities the engine never reads: those declared with a SYSTEM or PUBLIC
// identifier, and those of an external DTD subset. Their declarations are
// kept in the document type as text that is written back exactly, never in
// libxml2's entity table (with entity substitution on, libxml2 would read
// the file an entry names). A reference to such an entity stays in the tree
// as an entity-reference node without children, written back as `&name;`.
#pragma once

#include "platform/xmldom/engine/xml_ptr.h"

namespace xmlutil::xmldom {

// Appends the declaration of an external entity to the internal subset of
// `doc`, after the declarations made so far. False when memory ran out.
bool KeepUnreadEntityDeclaration(xmlDoc* doc, const xmlChar* name, bool parameter,
                                 const xmlChar* publicId, const xmlChar* systemId);

// Appends a reference to the parameter entity `name` to the internal subset
// of `doc`, where the document made it between declarations: libxml2 keeps
// none in its tree, and without one an undeclared entity the document uses
// would make the saved document not well-formed. False when memory ran out.
bool KeepParameterEntityReference(xmlDoc* doc, const xmlChar* name);

// True for a child of a document type that holds a kept declaration or
// parameter-entity reference.
bool IsKeptDeclaration(const xmlNode* node);

// True when a reference to the general entity `name`, written into `doc`,
// loads back: an entity of its table or a kept declaration declares it, or
// its document type names an external subset or keeps a parameter-entity
// reference (so that an undeclared entity is a validity matter) and it is
// not standalone.
bool ReferenceLoadsIn(const xmlDoc* doc, const xmlChar* name);

// True when every entity reference in the subtree under `root` (itself
// included) loads back in `doc`.
bool ReferencesLoadIn(const xmlNode* root, const xmlDoc* doc);

}  // namespace xmlutil::xmldom
