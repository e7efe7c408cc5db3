// SPDX-License-Identifier: MIT
// The IXMLDOMCharacterData, IXMLDOMText and IXMLDOMProcessingInstruction
// operations. Offsets and counts are in wchar_t units, one per Unicode
// character (a BSTR's units here); an edit is made on the wide text and
// written back through put_text, so it keeps every refusal put_text makes
// ("--" in a comment, "]]>" in CDATA, characters XML forbids).
#include <string>

#include "platform/xmldom/document_object.h"
#include "platform/xmldom/node_ops.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom::ops {

namespace {

std::wstring WideContent(xmlNode* node) {
    std::wstring wide;
    if (node->content != nullptr) AppendWideFromUtf8(FromXml(node->content), wide);
    return wide;
}

// The caller's text up to its first NUL, as the DOM sees every string.
std::wstring WideArgument(BSTR text) {
    return text == nullptr ? std::wstring() : std::wstring(text);
}

// Checks a range against text of `length` units; a count past the end is cut
// to reach the end.
HRESULT ClampRange(size_t length, long offset, long& count) {
    if (offset < 0 || count < 0 || static_cast<size_t>(offset) > length) return E_INVALIDARG;
    const size_t left = length - static_cast<size_t>(offset);
    if (static_cast<size_t>(count) > left) count = static_cast<long>(left);
    return S_OK;
}

}  // namespace

HRESULT GetData(DomNode& self, BSTR* data) {
    if (data == nullptr) return E_POINTER;
    *data = nullptr;
    const xmlNode* node = self.XmlNode();
    return BstrFromUtf8(node->content == nullptr ? "" : FromXml(node->content), data);
}

HRESULT GetDataLength(DomNode& self, long* length) {
    if (length == nullptr) return E_POINTER;
    *length = static_cast<long>(WideContent(self.XmlNode()).size());
    return S_OK;
}

HRESULT SubstringData(DomNode& self, long offset, long count, BSTR* data) {
    if (data == nullptr) return E_POINTER;
    *data = nullptr;
    const std::wstring wide = WideContent(self.XmlNode());
    const HRESULT hr = ClampRange(wide.size(), offset, count);
    if (FAILED(hr)) return hr;
    *data = SysAllocStringLen(wide.data() + offset, static_cast<UINT>(count));
    return *data == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT ReplaceData(DomNode& self, long offset, long count, BSTR data) {
    std::wstring wide = WideContent(self.XmlNode());
    const HRESULT hr = ClampRange(wide.size(), offset, count);
    if (FAILED(hr)) return hr;
    wide.replace(static_cast<size_t>(offset), static_cast<size_t>(count), WideArgument(data));
    return PutText(self, wide.data());
}

HRESULT AppendData(DomNode& self, BSTR data) {
    const long end = static_cast<long>(WideContent(self.XmlNode()).size());
    return ReplaceData(self, end, 0, data);
}

HRESULT SplitText(DomNode& self, long offset, IXMLDOMText** right) {
    if (right == nullptr) return E_POINTER;
    *right = nullptr;
    if (self.ReadOnly()) return E_FAIL;
    xmlNode* node = self.XmlNode();
    const std::wstring wide = WideContent(node);
    if (offset < 0 || static_cast<size_t>(offset) > wide.size()) return E_INVALIDARG;
    std::string before;
    std::string after;
    // Both halves of text already held: neither conversion can be refused.
    HRESULT hr = Utf8FromBstr(const_cast<wchar_t*>(wide.substr(0, offset).c_str()), before);
    if (SUCCEEDED(hr)) hr = Utf8FromBstr(const_cast<wchar_t*>(wide.substr(offset).c_str()), after);
    if (FAILED(hr)) return hr;
    xmlNode* made = node->type == XML_CDATA_SECTION_NODE
                        ? tree::Whole(xmlNewCDataBlock(node->doc, ToXml(after.c_str()),
                                                       static_cast<int>(after.size())))
                        : tree::NewText(node->doc, after);
    if (made == nullptr) return E_OUTOFMEMORY;
    // Wrapped before anything changes, so the new node is freed with its
    // handle should the rest fail.
    CComPtr<IXMLDOMText> rightHalf;
    hr = WrapNodeAs(made, &rightHalf.p);
    if (FAILED(hr)) {
        if (WrapperOf(made) == nullptr) xmlFreeNode(made);
        return hr;
    }
    tree::SetLeafContent(node, before);
    if (node->parent != nullptr) tree::LinkChild(node->parent, made, node->next);
    self.Owner().Changed();
    *right = rightHalf.Detach();
    return S_OK;
}

HRESULT GetTarget(DomNode& self, BSTR* target) {
    if (target == nullptr) return E_POINTER;
    *target = nullptr;
    const xmlNode* node = self.XmlNode();
    return BstrFromUtf8(node->name == nullptr ? "" : FromXml(node->name), target);
}

}  // namespace xmlutil::xmldom::ops
