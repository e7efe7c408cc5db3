// SPDX-License-Identifier: MIT
// Scripted stand-ins for DOM nodes, child lists and attribute maps, for tests
// that need answers a real document never gives: an item that cannot be read,
// a name or text that fails, a null string returned with S_OK. They live on
// the test's stack; reference counts are tracked so a test can check that a
// member released every reference it took. Anything not scripted answers
// E_NOTIMPL, so an unexpected call shows up as a wrong result.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "xmlutil/msxml.h"

namespace fake_dom {

// A BSTR copy of `text`; null stays a null BSTR.
inline BSTR AllocOrNull(const wchar_t* text) {
    return text == nullptr ? nullptr : SysAllocString(text);
}

template <class Iface>
class Counted : public Iface {
  public:
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Iface)) {
            *out = static_cast<Iface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override { return static_cast<ULONG>(--refs_); }
    // References taken and not yet released.
    long refs() const { return refs_; }

  private:
    long refs_ = 0;
};

class List;
class Map;

class Node : public Counted<IXMLDOMNode> {
  public:
    HRESULT textResult = S_OK;
    const wchar_t* text = L"";
    HRESULT baseNameResult = S_OK;
    const wchar_t* baseName = L"";
    HRESULT childNodesResult = S_OK;
    IXMLDOMNodeList* children = nullptr;
    HRESULT attributesResult = S_OK;
    IXMLDOMNamedNodeMap* attributes = nullptr;

    HRESULT get_text(BSTR* out) override {
        *out = textResult == S_OK ? AllocOrNull(text) : nullptr;
        return textResult;
    }
    HRESULT get_baseName(BSTR* out) override {
        *out = baseNameResult == S_OK ? AllocOrNull(baseName) : nullptr;
        return baseNameResult;
    }
    HRESULT get_childNodes(IXMLDOMNodeList** out) override {
        return Hand(childNodesResult, children, out);
    }
    HRESULT get_attributes(IXMLDOMNamedNodeMap** out) override {
        return Hand(attributesResult, attributes, out);
    }

    HRESULT get_nodeName(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_nodeValue(VARIANT*) override { return E_NOTIMPL; }
    HRESULT put_nodeValue(VARIANT) override { return E_NOTIMPL; }
    HRESULT get_nodeType(DOMNodeType*) override { return E_NOTIMPL; }
    HRESULT get_parentNode(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT get_firstChild(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT get_lastChild(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT get_previousSibling(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT get_nextSibling(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT insertBefore(IXMLDOMNode*, VARIANT, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT removeChild(IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT appendChild(IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT hasChildNodes(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT get_ownerDocument(IXMLDOMDocument**) override { return E_NOTIMPL; }
    HRESULT cloneNode(VARIANT_BOOL, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT put_text(BSTR) override { return E_NOTIMPL; }
    HRESULT get_xml(BSTR*) override { return E_NOTIMPL; }
    HRESULT selectNodes(BSTR, IXMLDOMNodeList**) override { return E_NOTIMPL; }
    HRESULT selectSingleNode(BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT get_namespaceURI(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_prefix(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_nodeTypeString(BSTR*) override { return E_NOTIMPL; }
    HRESULT replaceChild(IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT get_specified(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT get_definition(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT get_nodeTypedValue(VARIANT*) override { return E_NOTIMPL; }
    HRESULT put_nodeTypedValue(VARIANT) override { return E_NOTIMPL; }
    HRESULT get_dataType(VARIANT*) override { return E_NOTIMPL; }
    HRESULT transformNode(IXMLDOMNode*, BSTR*) override { return E_NOTIMPL; }
    HRESULT get_parsed(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT transformNodeToObject(IXMLDOMNode*, VARIANT) override { return E_NOTIMPL; }

  private:
    template <class T>
    static HRESULT Hand(HRESULT result, T* object, T** out) {
        *out = result == S_OK ? object : nullptr;
        if (*out != nullptr) (*out)->AddRef();
        return result;
    }
};

// Items by index; indexes in `failing` answer E_FAIL with no item.
template <class Iface>
class Items : public Counted<Iface> {
  public:
    HRESULT lengthResult = S_OK;
    std::vector<Node*> items;
    std::set<long> failing;

    HRESULT get_length(long* out) override {
        if (lengthResult == S_OK) *out = static_cast<long>(items.size());
        return lengthResult;
    }
    HRESULT get_item(long index, IXMLDOMNode** out) override {
        *out = nullptr;
        if (failing.count(index) != 0) return E_FAIL;
        if (index < 0 || index >= static_cast<long>(items.size())) return S_FALSE;
        *out = items[static_cast<std::size_t>(index)];
        (*out)->AddRef();
        return S_OK;
    }
};

class List : public Items<IXMLDOMNodeList> {
  public:
    HRESULT nextNode(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT reset() override { return E_NOTIMPL; }
};

class Map : public Items<IXMLDOMNamedNodeMap> {
  public:
    HRESULT getNamedItem(BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT setNamedItem(IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT removeNamedItem(BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT getQualifiedItem(BSTR, BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT removeQualifiedItem(BSTR, BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT nextNode(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT reset() override { return E_NOTIMPL; }
};

}  // namespace fake_dom
