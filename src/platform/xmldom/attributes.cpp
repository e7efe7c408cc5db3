// SPDX-License-Identifier: MIT
#include "platform/xmldom/attributes.h"

#include <memory>

#include "platform/xmldom/document_object.h"
#include "platform/xmldom/engine/xml_ptr.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom::attrs {

namespace {

struct AttrDeleter {
    void operator()(xmlAttr* attr) const { xmlFreeProp(attr); }
};
using AttrPtr = std::unique_ptr<xmlAttr, AttrDeleter>;

const xmlChar* PrefixArg(const std::string& prefix) {
    return prefix.empty() ? nullptr : ToXml(prefix.c_str());
}

bool SameNamespace(const xmlNs* a, const xmlNs* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return xmlStrEqual(a->href, b->href) != 0;
}

// The attribute of `element` with this namespace and local name, other than `except`.
xmlAttr* FindByExpandedName(xmlNode* element, const xmlNs* ns, const xmlChar* local,
                            const xmlAttr* except) {
    for (xmlAttr* attr = element->properties; attr != nullptr; attr = attr->next) {
        if (attr != except && xmlStrEqual(attr->name, local) && SameNamespace(attr->ns, ns)) {
            return attr;
        }
    }
    return nullptr;
}

// A namespace for an attribute that arrives with one bound elsewhere: the
// binding in scope at `element` when it matches, else a declaration added on
// the element (with a fresh prefix if its own is bound to something else).
xmlNs* Rebind(xmlNode* element, const xmlNs* ns) {
    xmlNs* same = tree::FindInScope(element, ns->prefix);
    if (same != nullptr && xmlStrEqual(same->href, ns->href)) return same;
    if (same == nullptr) {
        return tree::NewNamespace(element, ns->href, ns->prefix);
    }
    for (int counter = 1;; ++counter) {
        const std::string fresh = "ns" + std::to_string(counter);
        if (tree::FindInScope(element, ToXml(fresh.c_str())) != nullptr) continue;
        return tree::NewNamespace(element, ns->href, ToXml(fresh.c_str()));
    }
}

}  // namespace

void SetName(xmlNode* node, const std::string& name) {
    xmlNodeSetName(node, ToXml(name.c_str()));
    if (!xmlStrEqual(node->name, ToXml(name.c_str()))) throw std::bad_alloc();
}

std::string PrefixOf(const std::string& qname) {
    const size_t colon = qname.find(':');
    return colon == std::string::npos ? std::string() : qname.substr(0, colon);
}

std::string LocalOf(const std::string& qname) {
    const size_t colon = qname.find(':');
    return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

bool IsDeclarationName(std::string_view qname, std::string* declaredPrefix) {
    constexpr std::string_view kXmlns = "xmlns";
    if (qname.substr(0, kXmlns.size()) != kXmlns) return false;
    if (qname.size() == kXmlns.size()) {
        if (declaredPrefix != nullptr) declaredPrefix->clear();
        return true;
    }
    if (qname[kXmlns.size()] != ':') return false;
    if (declaredPrefix != nullptr) declaredPrefix->assign(qname.substr(kXmlns.size() + 1));
    return true;
}

namespace {

// True for the names nearly every caller uses: ASCII letters, digits, '_',
// '-' and '.', each part starting with a letter or '_', one colon at most
// between two parts. These are valid QNames; anything else (other
// characters, other shapes) is left to the full check.
bool IsPlainAsciiQName(const std::string& qname) {
    bool partStart = true;
    bool colonSeen = false;
    for (const char c : qname) {
        if (c == ':') {
            if (partStart || colonSeen) return false;
            colonSeen = true;
            partStart = true;
            continue;
        }
        const char lower = static_cast<char>(c | 0x20);
        const bool startChar = (lower >= 'a' && lower <= 'z') || c == '_';
        const bool laterChar = (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!startChar && (partStart || !laterChar)) return false;
        partStart = false;
    }
    return !partStart;
}

}  // namespace

bool IsValidNodeName(const std::string& qname) {
    if (qname.empty()) return false;
    if (!IsPlainAsciiQName(qname) && !IsQName(qname)) return false;
    return std::string_view(qname).substr(0, 6) != "xmlns:";  // the prefix "xmlns" only declares
}

std::string QualifiedName(const xmlNode* node) {
    std::string name = node->name == nullptr ? "" : FromXml(node->name);
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        return std::string(FromXml(node->ns->prefix)) + ":" + name;
    }
    return name;
}

std::string LocalName(const xmlNode* node) {
    const std::string name = node->name == nullptr ? "" : FromXml(node->name);
    return node->ns != nullptr ? name : LocalOf(name);
}

std::string Prefix(const xmlNode* node) {
    if (node->ns != nullptr) return node->ns->prefix == nullptr ? "" : FromXml(node->ns->prefix);
    return PrefixOf(node->name == nullptr ? "" : FromXml(node->name));
}

std::string NamespaceUri(const xmlNode* node) {
    if (node->ns != nullptr) return node->ns->href == nullptr ? "" : FromXml(node->ns->href);
    if (node->type == XML_ATTRIBUTE_NODE && node->name != nullptr &&
        IsDeclarationName(FromXml(node->name), nullptr)) {
        return kXmlnsUri;
    }
    return "";
}

xmlAttr* FindAttribute(xmlNode* element, const std::string& qname) {
    for (xmlAttr* attr = element->properties; attr != nullptr; attr = attr->next) {
        if (QualifiedName(reinterpret_cast<xmlNode*>(attr)) == qname) return attr;
    }
    return nullptr;
}

xmlNs* FindDeclaration(xmlNode* element, const std::string& prefix) {
    for (xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
        if (xmlStrEqual(ns->prefix, PrefixArg(prefix))) return ns;
    }
    return nullptr;
}

namespace {

xmlAttr* MakeDeclarationNode(xmlDoc* doc, const xmlChar* prefix, const xmlChar* uri) {
    std::string name = "xmlns";
    if (prefix != nullptr) name += std::string(":") + FromXml(prefix);
    AttrPtr attr(reinterpret_cast<xmlAttr*>(
        tree::Whole(reinterpret_cast<xmlNode*>(xmlNewDocProp(doc, ToXml(name.c_str()), nullptr)))));
    if (attr == nullptr) throw std::bad_alloc();
    tree::SetAttributeValue(attr.get(), uri == nullptr ? "" : FromXml(uri));
    return attr.release();
}

}  // namespace

HRESULT WrapDeclaration(xmlDoc* doc, const xmlChar* prefix, const xmlChar* uri, IXMLDOMNode** out) {
    xmlAttr* node = MakeDeclarationNode(doc, prefix, uri);
    const HRESULT hr = WrapNode(reinterpret_cast<xmlNode*>(node), out);
    if (FAILED(hr)) {
        xmlFreeProp(node);
        return hr;
    }
    WrapperOf(reinterpret_cast<xmlNode*>(node))->MarkReadOnly();
    return S_OK;
}

namespace {

bool DeclaresDefault(const xmlNode* element) {
    for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
        if (ns->prefix == nullptr) return true;
    }
    return false;
}

bool IsEmptyDefault(const xmlNs* ns) {
    return ns->prefix == nullptr && (ns->href == nullptr || ns->href[0] == '\0');
}

// True when `element`, or an element below it that no default declaration
// of its own or of an element in between covers, is in no namespace: a
// default namespace declared (or undeclared) on `element` alone decides
// where such an element reads back.
bool HasUncoveredUnqualifiedElement(const xmlNode* element) {
    const xmlNode* cur = element;
    while (true) {
        const bool covered = cur != element && DeclaresDefault(cur);
        if (!covered && cur->ns == nullptr) return true;
        const xmlNode* child = covered ? nullptr : cur->children;
        while (child != nullptr && child->type != XML_ELEMENT_NODE) child = child->next;
        if (child != nullptr) {
            cur = child;
            continue;
        }
        // On to the next element in document order below `element`.
        while (cur != element) {
            const xmlNode* next = cur->next;
            while (next != nullptr && next->type != XML_ELEMENT_NODE) next = next->next;
            if (next != nullptr) {
                cur = next;
                break;
            }
            cur = cur->parent;
        }
        if (cur == element) return false;
    }
}

// True when declaring `prefix` as `uri` on `element` would move the element
// or a node below it into another namespace: the node takes its binding of
// the prefix from outside the element (or, for the default namespace, is in
// none), and markup written with the new declaration would read back in
// `uri` instead.
bool ShadowsBindingInUse(xmlNode* element, const std::string& prefix, const std::string& uri) {
    if (prefix.empty() && !uri.empty() && HasUncoveredUnqualifiedElement(element)) return true;
    xmlNode* parent = element->parent;
    const xmlNs* outer = parent != nullptr && parent->type == XML_ELEMENT_NODE
                             ? tree::FindInScope(parent, PrefixArg(prefix))
                             : nullptr;
    if (outer == nullptr || xmlStrEqual(outer->href, ToXml(uri.c_str()))) return false;
    return tree::FindInSubtree(element, [&](xmlNode* node) {
               // Attributes without a prefix are in no namespace whatever
               // the default one is.
               return (node->type == XML_ELEMENT_NODE ||
                       (node->type == XML_ATTRIBUTE_NODE && !prefix.empty())) &&
                      node->ns == outer;
           }) != nullptr;
}

// True when changing `existing`, a declaration on `element`, to `uri` (or
// removing it, `uri` null) would move nodes into another namespace. Nodes
// bound to it would follow in memory too, but are refused all the same; the
// elements an empty default declaration keeps out of any namespace would not.
bool ChangeMovesNodes(xmlNode* element, const xmlNs* existing, const std::string* uri) {
    if (tree::NamespaceInUse(element, existing)) return true;
    if (!IsEmptyDefault(existing)) return false;
    if (uri == nullptr) {  // removed: the default declared further up takes over
        xmlNode* parent = element->parent;
        const xmlNs* outer = parent != nullptr && parent->type == XML_ELEMENT_NODE
                                 ? tree::FindInScope(parent, nullptr)
                                 : nullptr;
        if (outer == nullptr || IsEmptyDefault(outer)) return false;
    } else if (uri->empty()) {
        return false;
    }
    return HasUncoveredUnqualifiedElement(element);
}

// What XML allows a declaration to say. E_INVALIDARG otherwise.
HRESULT CheckDeclaration(const std::string& prefix, const std::string& uri) {
    // xmlns:p="" is not allowed in XML 1.0; "xml" and "xmlns" are reserved.
    if (!prefix.empty() &&
        (uri.empty() || !IsNcName(prefix) || prefix == "xml" || prefix == "xmlns")) {
        return E_INVALIDARG;
    }
    if (uri == "http://www.w3.org/XML/1998/namespace" || uri == kXmlnsUri) return E_INVALIDARG;
    // The parser refuses a declaration whose value is no URI reference.
    if (!uri.empty()) {
        xmlURI* parsed = xmlParseURI(uri.c_str());
        if (parsed == nullptr) return E_INVALIDARG;
        xmlFreeURI(parsed);
    }
    return S_OK;
}

void Declare(xmlNode* element, const std::string& prefix, const std::string& uri) {
    xmlNs* made = tree::NewNamespace(element, ToXml(uri.c_str()), PrefixArg(prefix));
    // A detached element named with this prefix binds to it at once.
    if (!prefix.empty() && element->ns == nullptr && PrefixOf(FromXml(element->name)) == prefix) {
        SetName(element, LocalOf(FromXml(element->name)));
        element->ns = made;
    }
}

}  // namespace

HRESULT SetDeclaration(xmlNode* element, const std::string& prefix, const std::string& uri) {
    if (const HRESULT hr = CheckDeclaration(prefix, uri); FAILED(hr)) return hr;
    xmlNs* existing = FindDeclaration(element, prefix);
    if (existing != nullptr) {
        if (xmlStrEqual(existing->href, ToXml(uri.c_str()))) return S_OK;
        if (ChangeMovesNodes(element, existing, &uri)) return E_FAIL;
        xmlChar* href = xmlStrdup(ToXml(uri.c_str()));
        if (href == nullptr) throw std::bad_alloc();
        xmlFree(const_cast<xmlChar*>(existing->href));
        existing->href = href;
        return S_OK;
    }
    if (ShadowsBindingInUse(element, prefix, uri)) return E_FAIL;
    Declare(element, prefix, uri);
    return S_OK;
}

HRESULT DeclareOwnNamespace(xmlNode* element, const std::string& prefix, const std::string& uri) {
    if (const HRESULT hr = CheckDeclaration(prefix, uri); FAILED(hr)) return hr;
    Declare(element, prefix, uri);
    if (prefix.empty()) element->ns = FindDeclaration(element, "");
    return S_OK;
}

bool RemovalMovesNodes(xmlNode* element, const xmlNs* existing) {
    return ChangeMovesNodes(element, existing, nullptr);
}

HRESULT RemoveDeclaration(xmlNode* element, const std::string& prefix) {
    xmlNs* existing = FindDeclaration(element, prefix);
    if (existing == nullptr) return S_FALSE;
    if (RemovalMovesNodes(element, existing)) return E_FAIL;
    xmlNs** link = &element->nsDef;
    while (*link != existing) link = &(*link)->next;
    *link = existing->next;
    existing->next = nullptr;
    xmlFreeNs(existing);
    return S_OK;
}

HRESULT SetValue(DomNode& element, const std::string& qname, const std::string& value) {
    xmlNode* elem = element.XmlNode();
    std::string declared;
    if (IsDeclarationName(qname, &declared)) return SetDeclaration(elem, declared, value);
    if (!IsValidNodeName(qname)) return E_INVALIDARG;
    const std::string prefix = PrefixOf(qname);
    xmlNs* ns = nullptr;
    if (!prefix.empty()) {
        ns = tree::FindInScope(elem, ToXml(prefix.c_str()));
        if (ns == nullptr) return E_INVALIDARG;  // undeclared prefix: the file would not load
    }
    const std::string local = LocalOf(qname);
    if (xmlAttr* existing = FindByExpandedName(elem, ns, ToXml(local.c_str()), nullptr)) {
        tree::SetAttributeValue(existing, value);
        return S_OK;
    }
    AttrPtr attr(reinterpret_cast<xmlAttr*>(tree::Whole(
        reinterpret_cast<xmlNode*>(xmlNewDocProp(elem->doc, ToXml(local.c_str()), nullptr)))));
    if (attr == nullptr) throw std::bad_alloc();
    attr->ns = ns;
    tree::SetAttributeValue(attr.get(), value);
    tree::LinkAttribute(elem, attr.release(), nullptr);
    return S_OK;
}

namespace {

HRESULT SetDetached(xmlNode* elem, xmlAttr* attr);

}  // namespace

HRESULT SetNode(DomNode& element, DomNode& attribute) {
    return SetDetached(element.XmlNode(), reinterpret_cast<xmlAttr*>(attribute.XmlNode()));
}

HRESULT SetNew(DomNode& element, const std::string& qname, const std::string& value) {
    xmlNode* elem = element.XmlNode();
    // Made as createAttribute makes one (no value: xmlNewDocProp would parse
    // one for entity references), given its value while detached, then put
    // on the element as setNamedItem puts it.
    AttrPtr attr(reinterpret_cast<xmlAttr*>(tree::Whole(
        reinterpret_cast<xmlNode*>(xmlNewDocProp(elem->doc, ToXml(qname.c_str()), nullptr)))));
    if (attr == nullptr) throw std::bad_alloc();
    tree::SetAttributeValue(attr.get(), value);
    const HRESULT hr = SetDetached(elem, attr.get());
    // A declaration only declares: the node made for it is not linked.
    if (attr->parent == elem) attr.release();
    return hr;
}

namespace {

HRESULT SetDetached(xmlNode* elem, xmlAttr* attr) {
    if (attr->parent == elem) return S_OK;       // already set here
    if (attr->parent != nullptr) return E_FAIL;  // in use by another element
    const std::string_view name(FromXml(attr->name));
    std::string declared;
    if (attr->ns == nullptr && IsDeclarationName(name, &declared)) {
        XmlCharPtr uri(xmlNodeGetContent(reinterpret_cast<xmlNode*>(attr)));
        return SetDeclaration(elem, declared, uri == nullptr ? "" : FromXml(uri.get()));
    }
    xmlNs* unresolvedBinding = nullptr;
    const size_t colon = name.find(':');
    if (attr->ns == nullptr && colon != std::string_view::npos) {
        const std::string prefix(name.substr(0, colon));
        unresolvedBinding = tree::FindInScope(elem, ToXml(prefix.c_str()));
        if (unresolvedBinding == nullptr) return E_INVALIDARG;
    }
    if (attr->doc != elem->doc) {
        xmlNode* moved = nullptr;
        const HRESULT hr =
            tree::MoveToDocument(reinterpret_cast<xmlNode*>(attr), elem->doc, &moved);
        if (FAILED(hr)) return hr;
        attr = reinterpret_cast<xmlAttr*>(moved);
    }
    if (unresolvedBinding != nullptr) {
        SetName(reinterpret_cast<xmlNode*>(attr), std::string(name.substr(colon + 1)));
        attr->ns = unresolvedBinding;
    } else if (attr->ns != nullptr) {
        attr->ns = Rebind(elem, attr->ns);
    }
    xmlAttr* old = FindByExpandedName(elem, attr->ns, attr->name, attr);
    tree::LinkAttribute(elem, attr, old);
    return S_OK;
}

}  // namespace

HRESULT RemoveByName(DomNode& element, const std::string& qname, IXMLDOMNode** removed) {
    xmlNode* elem = element.XmlNode();
    std::string declared;
    if (IsDeclarationName(qname, &declared)) {
        xmlNs* existing = FindDeclaration(elem, declared);
        if (existing == nullptr) return S_FALSE;
        if (RemovalMovesNodes(elem, existing)) return E_FAIL;
        if (removed != nullptr) {
            const HRESULT hr =
                WrapDeclaration(elem->doc, existing->prefix, existing->href, removed);
            if (FAILED(hr)) return hr;
        }
        return RemoveDeclaration(elem, declared);
    }
    xmlAttr* attr = FindAttribute(elem, qname);
    if (attr == nullptr) return S_FALSE;
    if (removed != nullptr) {
        const HRESULT hr = WrapNode(reinterpret_cast<xmlNode*>(attr), removed);
        if (FAILED(hr)) return hr;
    }
    tree::Remove(reinterpret_cast<xmlNode*>(attr));
    return S_OK;
}

}  // namespace xmlutil::xmldom::attrs
