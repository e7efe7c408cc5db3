// SPDX-License-Identifier: MIT
// A DOM document and node list whose answers a test scripts, to check how
// members record and pass on results the real DOM service rarely gives (a
// failure code with a false success flag, a list item that cannot be had).
// Every method not scripted answers E_NOTIMPL. Objects live on the test's
// stack and must outlive every holder; references are only counted.
#pragma once

#include <functional>
#include <vector>

#include "xmlutil/msxml.h"

namespace xmlutil::test {

template <class Interface>
class Counted : public Interface {
  public:
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, __uuidof(Interface))) {
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    using Interface::QueryInterface;
    ULONG references = 0;
};

// Node list: entries answer in order; an entry's `hr` is what get_item says.
class ScriptedList : public Counted<IXMLDOMNodeList> {
  public:
    struct Entry {
        HRESULT hr;
        IXMLDOMNode* node;
    };
    std::vector<Entry> entries;
    HRESULT lengthResult = S_OK;

    HRESULT get_item(long index, IXMLDOMNode** item) override {
        *item = nullptr;
        if (index < 0 || static_cast<size_t>(index) >= entries.size()) return S_FALSE;
        const Entry& e = entries[static_cast<size_t>(index)];
        if (e.hr == S_OK && e.node != nullptr) {
            e.node->AddRef();
            *item = e.node;
        }
        return e.hr;
    }
    HRESULT get_length(long* length) override {
        if (lengthResult == S_OK) *length = static_cast<long>(entries.size());
        return lengthResult;
    }
    HRESULT nextNode(IXMLDOMNode**) override { return E_NOTIMPL; }
    HRESULT reset() override { return E_NOTIMPL; }
};

#define XMLUTIL_NOT_SCRIPTED(name, ...)  \
    HRESULT name(__VA_ARGS__) override { \
        return E_NOTIMPL;                \
    }

class ScriptedDocument : public Counted<IXMLDOMDocument> {
  public:
    std::function<HRESULT(BSTR, VARIANT_BOOL*)> onLoadXML;
    std::function<HRESULT(VARIANT, VARIANT_BOOL*)> onLoad;
    std::function<HRESULT(BSTR*)> onGetXml;
    std::function<HRESULT(BSTR, IXMLDOMNodeList**)> onSelectNodes;
    std::function<HRESULT(BSTR, IXMLDOMNode**)> onSelectSingleNode;
    std::function<HRESULT(BSTR, BSTR, IXMLDOMProcessingInstruction**)> onCreatePI;
    int appendChildCalls = 0;

    HRESULT loadXML(BSTR xml, VARIANT_BOOL* ok) override { return Run(onLoadXML, xml, ok); }
    HRESULT load(VARIANT source, VARIANT_BOOL* ok) override { return Run(onLoad, source, ok); }
    HRESULT get_xml(BSTR* xml) override { return Run(onGetXml, xml); }
    HRESULT selectNodes(BSTR q, IXMLDOMNodeList** list) override {
        return Run(onSelectNodes, q, list);
    }
    HRESULT selectSingleNode(BSTR q, IXMLDOMNode** node) override {
        return Run(onSelectSingleNode, q, node);
    }
    HRESULT createProcessingInstruction(BSTR target, BSTR data,
                                        IXMLDOMProcessingInstruction** pi) override {
        return Run(onCreatePI, target, data, pi);
    }
    HRESULT appendChild(IXMLDOMNode*, IXMLDOMNode**) override {
        ++appendChildCalls;
        return E_NOTIMPL;
    }

    XMLUTIL_NOT_SCRIPTED(get_nodeName, BSTR*)
    XMLUTIL_NOT_SCRIPTED(get_nodeValue, VARIANT*)
    XMLUTIL_NOT_SCRIPTED(put_nodeValue, VARIANT)
    XMLUTIL_NOT_SCRIPTED(get_nodeType, DOMNodeType*)
    XMLUTIL_NOT_SCRIPTED(get_parentNode, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(get_childNodes, IXMLDOMNodeList**)
    XMLUTIL_NOT_SCRIPTED(get_firstChild, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(get_lastChild, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(get_previousSibling, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(get_nextSibling, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(get_attributes, IXMLDOMNamedNodeMap**)
    XMLUTIL_NOT_SCRIPTED(insertBefore, IXMLDOMNode*, VARIANT, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(removeChild, IXMLDOMNode*, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(hasChildNodes, VARIANT_BOOL*)
    XMLUTIL_NOT_SCRIPTED(get_ownerDocument, IXMLDOMDocument**)
    XMLUTIL_NOT_SCRIPTED(cloneNode, VARIANT_BOOL, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(get_text, BSTR*)
    XMLUTIL_NOT_SCRIPTED(put_text, BSTR)
    XMLUTIL_NOT_SCRIPTED(get_namespaceURI, BSTR*)
    XMLUTIL_NOT_SCRIPTED(get_prefix, BSTR*)
    XMLUTIL_NOT_SCRIPTED(get_baseName, BSTR*)
    XMLUTIL_NOT_SCRIPTED(get_documentElement, IXMLDOMElement**)
    XMLUTIL_NOT_SCRIPTED(createElement, BSTR, IXMLDOMElement**)
    XMLUTIL_NOT_SCRIPTED(createTextNode, BSTR, IXMLDOMText**)
    XMLUTIL_NOT_SCRIPTED(createComment, BSTR, IXMLDOMComment**)
    XMLUTIL_NOT_SCRIPTED(createCDATASection, BSTR, IXMLDOMCDATASection**)
    XMLUTIL_NOT_SCRIPTED(createAttribute, BSTR, IXMLDOMAttribute**)
    XMLUTIL_NOT_SCRIPTED(createNode, VARIANT, BSTR, BSTR, IXMLDOMNode**)
    XMLUTIL_NOT_SCRIPTED(save, VARIANT)
    XMLUTIL_NOT_SCRIPTED(get_async, VARIANT_BOOL*)
    XMLUTIL_NOT_SCRIPTED(put_async, VARIANT_BOOL)
    XMLUTIL_NOT_SCRIPTED(get_validateOnParse, VARIANT_BOOL*)
    XMLUTIL_NOT_SCRIPTED(put_validateOnParse, VARIANT_BOOL)
    XMLUTIL_NOT_SCRIPTED(get_preserveWhiteSpace, VARIANT_BOOL*)
    XMLUTIL_NOT_SCRIPTED(put_preserveWhiteSpace, VARIANT_BOOL)
    XMLUTIL_NOT_SCRIPTED(get_parseError, IXMLDOMParseError**)

  private:
    template <class F, class... Args>
    static HRESULT Run(const F& handler, Args... args) {
        return handler ? handler(args...) : E_NOTIMPL;
    }
};

#undef XMLUTIL_NOT_SCRIPTED

}  // namespace xmlutil::test
