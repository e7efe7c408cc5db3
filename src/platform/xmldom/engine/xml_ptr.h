// SPDX-License-Identifier: MIT
// The libxml2 data model as the DOM objects see it: the libxml2 headers their
// tree bookkeeping needs (nodes, IDs, names, URIs), included here so that no
// file outside the engine folder includes libxml2 itself, and one owner per
// kind of libxml2 object. (xmlFree is a function pointer variable, so the
// deleters are small structs, not function addresses.)
#pragma once

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/valid.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <memory>

namespace xmlutil::xmldom {

struct XmlCharDeleter {
    void operator()(xmlChar* p) const { xmlFree(p); }
};
struct XmlDocDeleter {
    void operator()(xmlDoc* p) const { xmlFreeDoc(p); }
};
struct XmlParserCtxtDeleter {
    void operator()(xmlParserCtxt* p) const { xmlFreeParserCtxt(p); }
};
struct XmlXPathObjectDeleter {
    void operator()(xmlXPathObject* p) const { xmlXPathFreeObject(p); }
};
struct XmlXPathContextDeleter {
    void operator()(xmlXPathContext* p) const { xmlXPathFreeContext(p); }
};
struct XmlXPathCompExprDeleter {
    void operator()(xmlXPathCompExpr* p) const { xmlXPathFreeCompExpr(p); }
};
struct XmlBufferDeleter {
    void operator()(xmlBuffer* p) const { xmlBufferFree(p); }
};

using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharDeleter>;
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocDeleter>;
using XmlParserCtxtPtr = std::unique_ptr<xmlParserCtxt, XmlParserCtxtDeleter>;
using XmlXPathObjectPtr = std::unique_ptr<xmlXPathObject, XmlXPathObjectDeleter>;
using XmlXPathContextPtr = std::unique_ptr<xmlXPathContext, XmlXPathContextDeleter>;
using XmlXPathCompExprPtr = std::unique_ptr<xmlXPathCompExpr, XmlXPathCompExprDeleter>;
using XmlBufferPtr = std::unique_ptr<xmlBuffer, XmlBufferDeleter>;

// libxml2 strings are unsigned char; these casts are the only place we convert.
inline const xmlChar* ToXml(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}
inline const char* FromXml(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}

}  // namespace xmlutil::xmldom
