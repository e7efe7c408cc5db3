// SPDX-License-Identifier: MIT
// The second-level properties of a document (IXMLDOMDocument2::setProperty
// and getProperty): which names are known, what values they take, and the
// state that loading and selecting read from them.
#pragma once

#include <array>
#include <string>

#include "platform/xmldom/engine/xpath_namespaces.h"
#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

class DocumentProperties {
  public:
    // Sets the property `name` (exact spelling). S_OK; E_INVALIDARG for an
    // unknown name or a value of the wrong type; E_FAIL, with `reason` and
    // nothing changed, for a malformed value. ValidateOnParse is the
    // document's own flag: not handled here (E_INVALIDARG).
    HRESULT Set(const std::wstring& name, const VARIANT& value, std::string& reason);
    // The value of the property `name` in a new variant. E_INVALIDARG for an
    // unknown name; E_OUTOFMEMORY.
    HRESULT Get(const std::wstring& name, VARIANT* value) const;

    const PrefixBindings& SelectionNamespaces() const { return selectionNamespaces_; }
    bool ProhibitDtd() const { return prohibitDtd_; }
    // 0: no limit of the caller's.
    size_t MaxElementDepth() const { return static_cast<size_t>(maxElementDepth_); }

  private:
    // Accepted and reported, with no effect on what the document does.
    struct Flag {
        const wchar_t* name;
        bool value;
    };

    Flag* FindFlag(const std::wstring& name);

    std::wstring selectionNamespacesText_;
    PrefixBindings selectionNamespaces_;
    std::wstring selectionLanguage_ = L"XPath";
    bool prohibitDtd_ = false;
    long maxElementDepth_ = 0;
    std::array<Flag, 6> flags_{{{L"ResolveExternals", false},
                                {L"AllowDocumentFunction", false},
                                {L"NewParser", false},
                                {L"ServerHTTPRequest", false},
                                {L"AllowXsltScript", false},
                                {L"MultipleErrorMessages", false}}};
};

}  // namespace xmlutil::xmldom
