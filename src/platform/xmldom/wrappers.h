// SPDX-License-Identifier: MIT
// The node wrappers: one class per kind of node, each implementing its own
// interface (IXMLDOMElement for an element, ...) over NodeMethods.
#pragma once

#include <type_traits>

#include "platform/xmldom/node_methods.h"

namespace xmlutil::xmldom {

template <class I>
class NodeWrapper : public WrapperCore, public NodeMethods<I> {  // WrapperCore first: see WrapperOf
  public:
    NodeWrapper(xmlNode* node, xmlDoc* xdoc, DocumentObject* doc) noexcept
        : WrapperCore(node, xdoc, doc) {}

    // One IUnknown per node: every interface of a wrapper is the same pointer.
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_XmlutilDomNode) {  // uncounted: see AsDomNode
            *out = static_cast<DomNode*>(this);
            return S_OK;
        }
        if (riid == IID_IUnknown || riid == IID_IXMLDOMNode || riid == __uuidof(I) ||
            (std::is_base_of_v<IXMLDOMText, I> && riid == IID_IXMLDOMText)) {
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
        if (left == 0) DeleteSelf();
        return left;
    }
    IXMLDOMNode* NodeInterface() override { return static_cast<I*>(this); }

  protected:
    DomNode& Self() override { return *this; }
};

class ElementWrapper final : public NodeWrapper<IXMLDOMElement> {
  public:
    using NodeWrapper::NodeWrapper;
    HRESULT get_tagName(BSTR* tagName) override {
        return Guarded([&] { return ops::GetNodeName(*this, tagName); });
    }
    HRESULT getAttribute(BSTR name, VARIANT* value) override {
        return Guarded([&] { return ops::GetAttribute(*this, name, value); });
    }
    HRESULT setAttribute(BSTR name, VARIANT value) override {
        return Guarded([&] { return ops::SetAttribute(*this, name, value); });
    }
    HRESULT removeAttribute(BSTR name) override {
        return Guarded([&] { return ops::RemoveAttribute(*this, name); });
    }
};

class AttributeWrapper final : public NodeWrapper<IXMLDOMAttribute> {
  public:
    using NodeWrapper::NodeWrapper;
    HRESULT get_name(BSTR* name) override {
        return Guarded([&] { return ops::GetNodeName(*this, name); });
    }
    HRESULT get_value(VARIANT* value) override {
        return Guarded([&] { return ops::GetNodeValue(*this, value); });
    }
    HRESULT put_value(VARIANT value) override {
        return Guarded([&] { return ops::PutNodeValue(*this, value); });
    }
};

}  // namespace xmlutil::xmldom
