// SPDX-License-Identifier: MIT
#include "platform/xmldom/lists.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/xmldom/attributes.h"
#include "platform/xmldom/document_object.h"
#include "platform/xmldom/fast_path_interfaces.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom {

namespace {

// Reference counting and QueryInterface for a list or map object.
template <class I>
class CountedObject : public I {
  public:
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(I)) {
            *out = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

  protected:
    virtual ~CountedObject() = default;

  private:
    ULONG refs_ = 1;
};

// nextNode/reset over get_item, shared by both kinds of list.
template <class Derived>
class IteratingList : public CountedObject<IXMLDOMNodeList> {
  public:
    HRESULT nextNode(IXMLDOMNode** next) override {
        if (next == nullptr) return E_POINTER;
        const HRESULT hr = get_item(position_, next);
        if (hr == S_OK) ++position_;
        return hr;
    }
    HRESULT reset() override {
        position_ = 0;
        return S_OK;
    }

  private:
    long position_ = 0;
};

xmlDoc* DocOf(xmlNode* node) {
    return node->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDoc*>(node) : node->doc;
}

// The children of a node, read from the tree at each call. Walking by rising
// (or falling) index costs O(1) per step: a cursor remembers the last index
// and node while the document's generation is unchanged, and the length is
// counted once per generation.
class ChildList final : public IteratingList<ChildList>, public INodeArray {
  public:
    explicit ChildList(DomNode& parent) : parent_(parent.NodeInterface()), self_(parent) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out != nullptr && riid == IID_XmlutilNodeArray) {  // uncounted: see INodeArray
            *out = static_cast<INodeArray*>(this);
            return S_OK;
        }
        return IteratingList::QueryInterface(riid, out);
    }

    // The children as they are now; the list itself stays live.
    HRESULT TakeNodes(std::vector<CComPtr<IXMLDOMNode>>& nodes) override {
        return Guarded([&]() -> HRESULT {
            // Grown as it goes: counting first would walk the whole list of
            // children once more (a cache miss per child on long lists).
            std::vector<CComPtr<IXMLDOMNode>> children;
            xmlDoc* doc = DocOf(self_.XmlNode());
            // A second pointer runs a few siblings ahead and asks for their
            // memory early, so that reading the next sibling overlaps with
            // wrapping this one instead of following it.
            constexpr int kAhead = 6;
            xmlNode* ahead = First();
            for (int i = 0; i < kAhead && ahead != nullptr; ++i) ahead = ahead->next;
            for (xmlNode* child = First(); child != nullptr; child = child->next) {
                if (ahead != nullptr) {
                    __builtin_prefetch(ahead->next);
                    ahead = ahead->next;
                }
                CComPtr<IXMLDOMNode> wrapped;
                const HRESULT hr = WrapNode(child, doc, &wrapped.p);
                if (FAILED(hr)) return hr;
                children.push_back(std::move(wrapped));
            }
            nodes.swap(children);
            return S_OK;
        });
    }

    HRESULT get_item(long index, IXMLDOMNode** item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        if (index < 0) return S_FALSE;
        // No error silencer here: the step is a pointer walk plus WrapNode,
        // neither of which calls libxml2 or throws (WrapNode answers
        // E_OUTOFMEMORY itself), and the silencer was a measurable share of a
        // walk over many children.
        xmlNode* found = Seek(index);
        if (found == nullptr) return S_FALSE;
        return WrapNode(found, DocOf(self_.XmlNode()), item);
    }

    HRESULT get_length(long* length) override {
        if (length == nullptr) return E_POINTER;
        Refresh();
        if (length_ < 0) {
            long count = 0;
            for (xmlNode* child = First(); child != nullptr; child = child->next) ++count;
            length_ = count;
        }
        *length = length_;
        return S_OK;
    }

  private:
    xmlNode* First() const {
        xmlNode* node = self_.XmlNode();
        return tree::HasOwnChildren(node) ? node->children : nullptr;
    }
    xmlNode* Last() const {
        xmlNode* node = self_.XmlNode();
        return tree::HasOwnChildren(node) ? node->last : nullptr;
    }

    // Forgets the cursor and length when the document changed since.
    void Refresh() {
        const uint64_t now = self_.Owner().Generation();
        if (now == generation_) return;
        generation_ = now;
        cursorIndex_ = -1;
        cursorNode_ = nullptr;
        length_ = -1;
    }

    xmlNode* Seek(long index) {
        Refresh();
        if (length_ >= 0 && index >= length_) return nullptr;
        long at;
        xmlNode* node;
        if (cursorNode_ != nullptr && index >= cursorIndex_ / 2) {
            at = cursorIndex_;
            node = cursorNode_;
        } else if (length_ >= 0 && index > length_ / 2) {
            at = length_ - 1;
            node = Last();
        } else {
            at = 0;
            node = First();
        }
        while (node != nullptr && at < index) node = node->next, ++at;
        while (node != nullptr && at > index) node = node->prev, --at;
        if (node == nullptr) {
            if (at >= 0 && index > 0) length_ = at;  // walked off the end: at == length
            return nullptr;
        }
        cursorIndex_ = at;
        cursorNode_ = node;
        return node;
    }

    CComPtr<IXMLDOMNode> parent_;  // keeps the node (and so its tree) alive
    DomNode& self_;
    uint64_t generation_ = 0;
    long cursorIndex_ = -1;
    xmlNode* cursorNode_ = nullptr;
    long length_ = -1;
};

class SelectionList final : public IteratingList<SelectionList>, public INodeArray {
  public:
    explicit SelectionList(std::vector<CComPtr<IXMLDOMNode>> nodes) : nodes_(std::move(nodes)) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out != nullptr && riid == IID_XmlutilNodeArray) {  // uncounted: see INodeArray
            *out = static_cast<INodeArray*>(this);
            return S_OK;
        }
        return IteratingList::QueryInterface(riid, out);
    }

    HRESULT TakeNodes(std::vector<CComPtr<IXMLDOMNode>>& nodes) override {
        nodes.swap(nodes_);
        nodes_.clear();
        return S_OK;
    }

    HRESULT get_item(long index, IXMLDOMNode** item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        if (index < 0 || static_cast<size_t>(index) >= nodes_.size()) return S_FALSE;
        return nodes_[static_cast<size_t>(index)].CopyTo(item);
    }
    HRESULT get_length(long* length) override {
        if (length == nullptr) return E_POINTER;
        *length = static_cast<long>(nodes_.size());
        return S_OK;
    }

  private:
    std::vector<CComPtr<IXMLDOMNode>> nodes_;
};

// The attributes of an element: its namespace declarations first (each handed
// out as a detached attribute node holding the URI: changing that node does
// not change the element; set declarations through the element or
// setNamedItem), then its attributes in order.
// What get_baseName gives for a declaration (its prefix, "xmlns" for the
// default namespace) and for an attribute (its name without prefix), as
// UTF-8 held by the tree.
const char* DeclarationBaseName(const xmlNs* ns) {
    return ns->prefix != nullptr ? FromXml(ns->prefix) : "xmlns";
}

const char* AttributeBaseName(const xmlAttr* attr) {
    if (attr->name == nullptr) return "";
    const char* name = FromXml(attr->name);
    if (attr->ns != nullptr) return name;
    const char* colon = std::strchr(name, ':');  // a prefix no declaration binds
    return colon == nullptr ? name : colon + 1;
}

// Calls `use` with what get_text gives for the attribute, as UTF-8: the
// content of its one text child in place (the usual case), else what
// libxml2 assembles from its children.
template <class F>
void WithAttributeText(xmlAttr* attr, F&& use) {
    const xmlNode* only = attr->children;
    if (only != nullptr && only->next == nullptr &&
        (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE)) {
        use(only->content == nullptr ? "" : FromXml(only->content));
        return;
    }
    XmlCharPtr content(xmlNodeGetContent(reinterpret_cast<xmlNode*>(attr)));
    use(content == nullptr ? "" : FromXml(content.get()));
}

std::wstring WideOf(const char* utf8) {
    std::wstring wide;
    AppendWideFromUtf8(utf8, wide);
    return wide;
}

// Puts `utf8` in `wide`, reusing its buffer (one value read per element of a
// large selection cost an allocation and a free each). Never more wide
// characters than bytes, so the room is made, or std::bad_alloc thrown,
// before `wide` changes.
void AssignWide(const char* utf8, std::wstring& wide) {
    wide.reserve(std::strlen(utf8));
    wide.clear();
    AppendWideFromUtf8(utf8, wide);
}

class AttributeMap final : public CountedObject<IXMLDOMNamedNodeMap>, public IAttributeReader {
  public:
    explicit AttributeMap(DomNode& element) : element_(element.NodeInterface()), self_(element) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out != nullptr && riid == IID_XmlutilAttributeReader) {  // uncounted: see it
            *out = static_cast<IAttributeReader*>(this);
            return S_OK;
        }
        return CountedObject::QueryInterface(riid, out);
    }

    HRESULT ReadAll(std::vector<std::wstring>& names, std::vector<std::wstring>& values) override {
        try {
            std::vector<std::wstring> baseNames;
            std::vector<std::wstring> texts;
            xmlNode* elem = self_.XmlNode();
            for (const xmlNs* ns = elem->nsDef; ns != nullptr; ns = ns->next) {
                baseNames.push_back(WideOf(DeclarationBaseName(ns)));
                texts.push_back(WideOf(ns->href == nullptr ? "" : FromXml(ns->href)));
            }
            for (xmlAttr* attr = elem->properties; attr != nullptr; attr = attr->next) {
                baseNames.push_back(WideOf(AttributeBaseName(attr)));
                WithAttributeText(attr, [&](const char* text) { texts.push_back(WideOf(text)); });
            }
            names.swap(baseNames);
            values.swap(texts);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT Find(const std::wstring& name, std::wstring& value) override {
        return FindAttributeText(self_.XmlNode(), name, value);
    }

    HRESULT getNamedItem(BSTR name, IXMLDOMNode** item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        return Guarded([&]() -> HRESULT {
            std::string qname;
            if (FAILED(Utf8FromBstr(name, qname))) return S_FALSE;
            return NamedItem(qname, item);
        });
    }

    HRESULT setNamedItem(IXMLDOMNode* newItem, IXMLDOMNode** item) override {
        if (item != nullptr) *item = nullptr;
        if (newItem == nullptr) return E_INVALIDARG;
        DomNode* attribute = AsDomNode(newItem);
        if (attribute == nullptr || attribute->XmlNode()->type != XML_ATTRIBUTE_NODE) {
            return E_INVALIDARG;
        }
        return Guarded([&]() -> HRESULT {
            CComPtr<IXMLDOMNode> keep(newItem);
            attribute->Owner().Changed();  // before a move may let that owner go
            const HRESULT hr = attrs::SetNode(self_, *attribute);
            self_.Owner().Changed();
            if (hr != S_OK) return hr;
            if (item != nullptr) *item = keep.Detach();
            return S_OK;
        });
    }

    HRESULT removeNamedItem(BSTR name, IXMLDOMNode** item) override {
        if (item != nullptr) *item = nullptr;
        return Guarded([&]() -> HRESULT {
            std::string qname;
            if (FAILED(Utf8FromBstr(name, qname))) return S_FALSE;
            return RemoveNamed(qname, item);
        });
    }

    HRESULT get_item(long index, IXMLDOMNode** item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        if (index < 0) return S_FALSE;
        xmlNode* elem = self_.XmlNode();
        long at = 0;
        for (xmlNs* ns = elem->nsDef; ns != nullptr; ns = ns->next, ++at) {
            // A declaration is handed out as a node made for it (libxml2
            // allocations): only that path needs the silencer.
            if (at == index) return Guarded([&] { return EmitDeclaration(ns, item); });
        }
        // An attribute is a pointer walk plus WrapNode, which neither calls
        // libxml2 nor throws.
        for (xmlAttr* attr = elem->properties; attr != nullptr; attr = attr->next, ++at) {
            if (at == index) return EmitNode(reinterpret_cast<xmlNode*>(attr), item);
        }
        return S_FALSE;
    }

    HRESULT get_length(long* length) override {
        if (length == nullptr) return E_POINTER;
        xmlNode* elem = self_.XmlNode();
        long count = 0;
        for (xmlNs* ns = elem->nsDef; ns != nullptr; ns = ns->next) ++count;
        for (xmlAttr* attr = elem->properties; attr != nullptr; attr = attr->next) ++count;
        *length = count;
        return S_OK;
    }

    HRESULT getQualifiedItem(BSTR baseName, BSTR namespaceURI, IXMLDOMNode** item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        return Guarded([&]() -> HRESULT {
            std::string qname;
            const HRESULT hr = FindQualified(baseName, namespaceURI, qname);
            if (hr != S_OK) return hr;
            return NamedItem(qname, item);
        });
    }

    HRESULT removeQualifiedItem(BSTR baseName, BSTR namespaceURI, IXMLDOMNode** item) override {
        if (item != nullptr) *item = nullptr;
        return Guarded([&]() -> HRESULT {
            std::string qname;
            const HRESULT hr = FindQualified(baseName, namespaceURI, qname);
            if (hr != S_OK) return hr;
            return RemoveNamed(qname, item);
        });
    }

    HRESULT nextNode(IXMLDOMNode** next) override {
        if (next == nullptr) return E_POINTER;
        const HRESULT hr = get_item(position_, next);
        if (hr == S_OK) ++position_;
        return hr;
    }

    HRESULT reset() override {
        position_ = 0;
        return S_OK;
    }

  private:
    HRESULT NamedItem(const std::string& qname, IXMLDOMNode** item) {
        xmlNode* elem = self_.XmlNode();
        std::string declared;
        if (attrs::IsDeclarationName(qname, &declared)) {
            xmlNs* ns = attrs::FindDeclaration(elem, declared);
            return ns == nullptr ? S_FALSE : EmitDeclaration(ns, item);
        }
        return EmitNode(reinterpret_cast<xmlNode*>(attrs::FindAttribute(elem, qname)), item);
    }

    HRESULT RemoveNamed(const std::string& qname, IXMLDOMNode** item) {
        const HRESULT hr = attrs::RemoveByName(self_, qname, item);
        if (hr == S_OK) self_.Owner().Changed();
        return hr;
    }

    // The qualified name of the declaration or attribute with that base name
    // in that namespace (declarations are in the xmlns namespace); S_FALSE
    // when there is none.
    HRESULT FindQualified(BSTR baseName, BSTR namespaceURI, std::string& qname) {
        std::string base;
        std::string uri;
        if (FAILED(Utf8FromBstr(baseName, base)) || FAILED(Utf8FromBstr(namespaceURI, uri))) {
            return S_FALSE;
        }
        xmlNode* elem = self_.XmlNode();
        if (uri == attrs::kXmlnsUri) {
            for (const xmlNs* ns = elem->nsDef; ns != nullptr; ns = ns->next) {
                if (base != DeclarationBaseName(ns)) continue;
                qname = ns->prefix == nullptr ? "xmlns" : "xmlns:" + base;
                return S_OK;
            }
            return S_FALSE;
        }
        for (xmlAttr* attr = elem->properties; attr != nullptr; attr = attr->next) {
            const auto* node = reinterpret_cast<const xmlNode*>(attr);
            if (base != AttributeBaseName(attr) || attrs::NamespaceUri(node) != uri) continue;
            qname = attrs::QualifiedName(node);
            return S_OK;
        }
        return S_FALSE;
    }

    HRESULT EmitDeclaration(const xmlNs* ns, IXMLDOMNode** item) {
        return attrs::WrapDeclaration(self_.XmlNode()->doc, ns->prefix, ns->href, item);
    }

    CComPtr<IXMLDOMNode> element_;  // keeps the element alive
    DomNode& self_;
    long position_ = 0;  // where nextNode reads
};

template <class Object, class I, class... Args>
HRESULT Hand(I** out, Args&&... args) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return Guarded([&]() -> HRESULT {
        *out = new Object(std::forward<Args>(args)...);  // owned by its reference count
        return S_OK;
    });
}

}  // namespace

HRESULT MakeChildList(DomNode& parent, IXMLDOMNodeList** out) {
    return Hand<ChildList>(out, parent);
}

HRESULT MakeSelectionList(std::vector<CComPtr<IXMLDOMNode>> nodes, IXMLDOMNodeList** out) {
    return Hand<SelectionList>(out, std::move(nodes));
}

HRESULT MakeAttributeMap(DomNode& element, IXMLDOMNamedNodeMap** out) {
    return Hand<AttributeMap>(out, element);
}

namespace {

// True when the name is printable ASCII only: it is then compared with the
// UTF-8 base names as it stands, without a converted copy.
bool IsPrintableAscii(const std::wstring& name) {
    return std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= 0x20 && c < 0x7F; });
}

bool SpellsAscii(const std::wstring& name, const char* utf8) {
    size_t i = 0;
    for (; i < name.size(); ++i) {
        if (utf8[i] != static_cast<char>(name[i])) return false;  // a NUL ends `utf8` here too
    }
    return utf8[i] == '\0';
}

}  // namespace

HRESULT FindAttributeText(xmlNode* element, const std::wstring& name, std::wstring& value) {
    try {
        // Base names hold no NUL and only characters XML allows: a name
        // with anything else matches none.
        const bool ascii = IsPrintableAscii(name);
        std::string wanted;
        if (!ascii && (name.find(L'\0') != std::wstring::npos ||
                       FAILED(Utf8FromBstr(const_cast<wchar_t*>(name.c_str()), wanted)))) {
            return S_FALSE;
        }
        const auto matches = [&](const char* baseName) {
            return ascii ? SpellsAscii(name, baseName) : wanted == baseName;
        };
        for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
            if (!matches(DeclarationBaseName(ns))) continue;
            AssignWide(ns->href == nullptr ? "" : FromXml(ns->href), value);
            return S_OK;
        }
        for (xmlAttr* attr = element->properties; attr != nullptr; attr = attr->next) {
            if (!matches(AttributeBaseName(attr))) continue;
            WithAttributeText(attr, [&](const char* text) { AssignWide(text, value); });
            return S_OK;
        }
        return S_FALSE;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace xmlutil::xmldom
