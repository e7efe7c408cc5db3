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
            (std::is_base_of_v<IXMLDOMText, I> && riid == IID_IXMLDOMText) ||
            (std::is_base_of_v<IXMLDOMCharacterData, I> && riid == IID_IXMLDOMCharacterData)) {
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
    HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attributeNode) override {
        return Guarded([&] { return ops::GetAttributeNode(*this, name, attributeNode); });
    }
    HRESULT setAttributeNode(IXMLDOMAttribute* attribute,
                             IXMLDOMAttribute** attributeNode) override {
        return Guarded([&] { return ops::SetAttributeNode(*this, attribute, attributeNode); });
    }
    HRESULT removeAttributeNode(IXMLDOMAttribute* attribute,
                                IXMLDOMAttribute** attributeNode) override {
        return Guarded([&] { return ops::RemoveAttributeNode(*this, attribute, attributeNode); });
    }
    HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) override {
        return Guarded([&] { return ops::GetElementsByTagName(*this, tagName, resultList); });
    }
    HRESULT normalize() override {
        return Guarded([&] { return ops::Normalize(*this); });
    }
};

// Text, CDATA and comment nodes.
template <class I>
class CharacterDataWrapper : public NodeWrapper<I> {
  public:
    using NodeWrapper<I>::NodeWrapper;
    HRESULT get_data(BSTR* data) override {
        return Guarded([&] { return ops::GetData(*this, data); });
    }
    HRESULT put_data(BSTR data) override {
        return Guarded([&] { return ops::PutText(*this, data); });
    }
    HRESULT get_length(long* dataLength) override {
        return Guarded([&] { return ops::GetDataLength(*this, dataLength); });
    }
    HRESULT substringData(long offset, long count, BSTR* data) override {
        return Guarded([&] { return ops::SubstringData(*this, offset, count, data); });
    }
    HRESULT appendData(BSTR data) override {
        return Guarded([&] { return ops::AppendData(*this, data); });
    }
    HRESULT insertData(long offset, BSTR data) override {
        return Guarded([&] { return ops::ReplaceData(*this, offset, 0, data); });
    }
    HRESULT deleteData(long offset, long count) override {
        return Guarded([&] { return ops::ReplaceData(*this, offset, count, nullptr); });
    }
    HRESULT replaceData(long offset, long count, BSTR data) override {
        return Guarded([&] { return ops::ReplaceData(*this, offset, count, data); });
    }
};

// Text and CDATA nodes.
template <class I>
class TextWrapper final : public CharacterDataWrapper<I> {
  public:
    using CharacterDataWrapper<I>::CharacterDataWrapper;
    HRESULT splitText(long offset, IXMLDOMText** rightHandTextNode) override {
        return Guarded([&] { return ops::SplitText(*this, offset, rightHandTextNode); });
    }
};

class ProcessingInstructionWrapper final : public NodeWrapper<IXMLDOMProcessingInstruction> {
  public:
    using NodeWrapper::NodeWrapper;
    HRESULT get_target(BSTR* name) override {
        return Guarded([&] { return ops::GetTarget(*this, name); });
    }
    HRESULT get_data(BSTR* value) override {
        return Guarded([&] { return ops::GetData(*this, value); });
    }
    HRESULT put_data(BSTR value) override {
        return Guarded([&] { return ops::PutText(*this, value); });
    }
};

class DocumentTypeWrapper final : public NodeWrapper<IXMLDOMDocumentType> {
  public:
    using NodeWrapper::NodeWrapper;
    HRESULT get_name(BSTR* rootName) override {
        return Guarded([&] { return ops::GetNodeName(*this, rootName); });
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
