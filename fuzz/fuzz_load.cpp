// SPDX-License-Identifier: MIT
// Loading arbitrary bytes: through Load (from a file) and through LoadXML (as
// Unicode text). Whatever loads must serialise to text that loads back to the
// same text, and whatever saves must load back to the same document; the
// indentation dropped while loading is exactly what the whitespace rule
// names.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_input.h"

namespace fuzz::load {

// Chosen at first use, after the environment (TMPDIR) is settled.
const std::string& InputPath() {
    static const std::string path = fuzz::TempPath("in");
    return path;
}
const std::string& SavePath() {
    static const std::string path = fuzz::TempPath("saved");
    return path;
}

void RemoveTempFiles() {
    std::remove(InputPath().c_str());
    std::remove(SavePath().c_str());
}

// The markup of every top-level node but the document type.
std::wstring MarkupBesidesDoctype(CXMLUtil& doc) {
    std::vector<CComPtr<IXMLDOMNode>> top;
    std::wstring markup;
    if (doc.GetChildNodes(CComPtr<IXMLDOMNode>(doc.GetDomDocument().p), top) != S_OK) return markup;
    for (const CComPtr<IXMLDOMNode>& node : top) {
        DOMNodeType type = NODE_INVALID;
        node->get_nodeType(&type);
        std::wstring xml;
        if (type != NODE_DOCUMENT_TYPE && doc.GetXML(xml, node) == S_OK) markup += xml + L"\n";
    }
    return markup;
}

// A saved file loads back as the same document. The one way its text may
// differ: a character the save's encoding cannot hold is written in an
// entity value of the document type as a character reference, which means
// the same (entities are expanded where they are used, so the content shows
// any change) but reads back as written. Saving what loaded back then
// changes nothing more.
void CheckSaveRoundTrip(CXMLUtil& doc, const std::wstring& xml) {
    const long saved = doc.Save(fuzz::Wide(SavePath()));
    fuzz::CheckResult(saved, "Save");
    if (saved != S_OK) return;
    CXMLUtil back;
    if (back.Load(fuzz::Wide(SavePath())) != S_OK) fuzz::Fail("saved file does not load", xml);
    std::wstring xmlBack;
    if (back.GetXML(xmlBack) != S_OK) fuzz::Fail("GetXML of a loaded document failed");
    if (xmlBack == xml) return;
    if (MarkupBesidesDoctype(back) != MarkupBesidesDoctype(doc)) {
        fuzz::Fail("document changed through Save + Load", xml + L"\n----\n" + xmlBack);
    }
    if (back.Save(fuzz::Wide(SavePath())) != S_OK) fuzz::Fail("a saved document saves no more");
    CXMLUtil twice;
    std::wstring xmlTwice;
    if (twice.Load(fuzz::Wide(SavePath())) != S_OK || twice.GetXML(xmlTwice) != S_OK ||
        xmlTwice != xmlBack) {
        fuzz::Fail("document type changed by a second Save + Load",
                   xmlBack + L"\n----\n" + xmlTwice);
    }
}

// Serialised text and saved files of `doc` load back as the same document.
void CheckRoundTrips(CXMLUtil& doc) {
    std::wstring xml;
    if (doc.GetXML(xml) != S_OK) fuzz::Fail("GetXML of a loaded document failed");

    CXMLUtil again;
    if (again.LoadXML(xml.c_str()) != S_OK) fuzz::Fail("serialised text does not load", xml);
    std::wstring xmlAgain;
    if (again.GetXML(xmlAgain) != S_OK || xmlAgain != xml) {
        fuzz::Fail("text changed through GetXML + LoadXML", xml + L"\n----\n" + xmlAgain);
    }

    CheckSaveRoundTrip(doc, xml);
}

bool IsBlank(const BSTR text) {
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        if (*p != L' ' && *p != L'\t' && *p != L'\n' && *p != L'\r') return false;
    }
    return true;
}

// The whitespace rule applied through the DOM to a document loaded with all
// its white space: whitespace-only text nodes that have a sibling go, unless
// the nearest xml:space says "preserve".
void StripIndentation(IXMLDOMNode* parent, bool preserve) {
    CComPtr<IXMLDOMNode> child;
    parent->get_firstChild(&child);
    while (child != nullptr) {
        CComPtr<IXMLDOMNode> next;
        child->get_nextSibling(&next);
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        if (type == NODE_ELEMENT) {
            bool inside = preserve;
            CComPtr<IXMLDOMElement> element;
            child->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element));
            BSTR name = SysAllocString(L"xml:space");
            VARIANT space;
            VariantInit(&space);
            if (element != nullptr && element->getAttribute(name, &space) == S_OK &&
                space.vt == VT_BSTR) {
                if (std::wstring(space.bstrVal) == L"preserve") inside = true;
                if (std::wstring(space.bstrVal) == L"default") inside = false;
            }
            VariantClear(&space);
            SysFreeString(name);
            StripIndentation(child, inside);
        } else if (type == NODE_TEXT && !preserve) {
            BSTR text = nullptr;
            child->get_text(&text);
            CComPtr<IXMLDOMNode> previous;
            child->get_previousSibling(&previous);
            if (IsBlank(text) && (previous != nullptr || next != nullptr)) {
                CComPtr<IXMLDOMNode> removed;
                parent->removeChild(child, &removed);
            }
            SysFreeString(text);
        }
        child = next;
    }
}

// Loading drops exactly the white space the rule names: the same as loading
// everything and applying the rule afterwards.
void CheckIndentationRule(CXMLUtil& doc, const std::wstring& path) {
    CXMLUtil kept;
    CComPtr<IXMLDOMDocument> keptDoc = kept.GetDomDocument();
    if (keptDoc == nullptr || keptDoc->put_preserveWhiteSpace(VARIANT_TRUE) != S_OK) return;
    if (kept.Load(path) != S_OK) fuzz::Fail("loads with indentation dropped, not with it kept");
    StripIndentation(keptDoc, false);
    std::wstring expected;
    std::wstring loaded;
    if (kept.GetXML(expected) != S_OK || doc.GetXML(loaded) != S_OK) return;
    if (loaded != expected) {
        fuzz::Fail("indentation dropped differently from the rule",
                   loaded + L"\n----\n" + expected);
    }
}

int TestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream(InputPath(), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        CXMLUtil doc;
        const long hr = doc.Load(fuzz::Wide(InputPath()));
        if (hr != S_OK && hr != S_FALSE) fuzz::Fail("Load gave neither S_OK nor S_FALSE");
        if (hr == S_OK) {
            CheckIndentationRule(doc, fuzz::Wide(InputPath()));
            CheckRoundTrips(doc);
        }
    }
    {
        const std::wstring text = fuzz::WideFromBytes(data, size);
        CXMLUtil doc;
        const long hr = doc.LoadXML(text.c_str());
        if (hr != S_OK && hr != S_FALSE) fuzz::Fail("LoadXML gave neither S_OK nor S_FALSE");
        if (hr == S_OK) CheckRoundTrips(doc);
    }
    return 0;
}

}  // namespace fuzz::load

#ifndef XMLUTIL_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietInit();
    std::atexit(fuzz::load::RemoveTempFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::load::TestOneInput(data, size);
}
#endif
