// SPDX-License-Identifier: MIT
// LoadMenuXml: merges the entries of a menu file (the children of the first
// /Root/Menu element) under a node of the caller's.
#include "xmlutil/XMLUtil.h"

namespace {

// Appends a deep copy of each child of `menu` under `target`, in order. A child
// that cannot be fetched, copied or appended is left out; the others go on.
void AppendCopiesOfChildren(IXMLDOMNode* menu, IXMLDOMNode* target) {
    CComPtr<IXMLDOMNodeList> children;
    if (menu->get_childNodes(&children) != S_OK) return;
    long count = 0;
    if (children->get_length(&count) != S_OK) return;
    // Appending copies leaves the menu document as it is, so the list holds
    // still while it is walked.
    for (long i = 0; i < count; ++i) {
        CComPtr<IXMLDOMNode> child;
        if (children->get_item(i, &child) != S_OK || !child) continue;
        CComPtr<IXMLDOMNode> copy;
        if (child->cloneNode(VARIANT_TRUE, &copy) != S_OK) continue;
        target->appendChild(copy, nullptr);
    }
}

}  // namespace

extern "C" XMLUTIL_API int LoadMenuXml(CComPtr<IXMLDOMNode>& parent, const wchar_t* path) {
    // Nothing to merge into, or no file named: nothing is appended.
    if (!parent || path == nullptr) return 0;

    // The menu document lives only for this call; copies appended to the
    // caller's tree do not depend on it.
    CXMLUtil menuDocument(VARIANT_FALSE);
    if (menuDocument.IsError()) return 0;
    if (menuDocument.Load(path) != S_OK) return 0;
    CComPtr<IXMLDOMNode> menu;
    if (menuDocument.GetSingleNode(L"/Root/Menu", menu) != S_OK) return 0;
    AppendCopiesOfChildren(menu, parent);
    return 0;
}
