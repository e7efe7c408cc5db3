// SPDX-License-Identifier: MIT
// CXMLUtil, the document object: one XML DOM document and the result of the
// last operation. Members return an HRESULT (as long) and also record it in the
// object, so a caller may test each result or ask IsError() after a sequence.
// S_OK is success, S_FALSE means nothing was there (no match, no child, no
// attribute map) or nothing was loaded; negative values are failures.
#pragma once

#include <string>
#include <vector>

#include "atl.h"
#include "export.h"
#include "load_limits.h"
#include "msxml.h"
#include "wintypes.h"

struct CXMLUtilTestAccess;

class XMLUTIL_API CXMLUtil {
  public:
    // ---- lifetime ----------------------------------------------------------
    // Creates a new, empty document; `async` is its asynchronous-loading flag.
    // Failures are recorded: test IsError() after construction.
    CXMLUtil(short async = VARIANT_FALSE);  // NOLINT(google-explicit-constructor)
    // Shares the source's document and copies its recorded result.
    CXMLUtil(const CXMLUtil& other);
    // Shares the given document (an empty handle gives an object without one).
    CXMLUtil(CComPtr<IXMLDOMDocument> doc);  // NOLINT(google-explicit-constructor)
    // Creates a new document holding a copy of the node and its subtree
    // (S_FALSE recorded when the node's markup is not a document).
    CXMLUtil(CComPtr<IXMLDOMNode> node);  // NOLINT(google-explicit-constructor)
    // Shares the source's document and copies its recorded result.
    CXMLUtil& operator=(const CXMLUtil& other);
    virtual ~CXMLUtil();

    // 1 when the last recorded result is not S_OK (S_FALSE included), else 0.
    int IsError();

    // ---- loading, saving, serialising --------------------------------------
    // Limits (load_limits.h, in namespace xmlutil) of what loads: kMaxNameBytes
    // per name, kMaxTextBytes per text, attribute value, comment, CDATA
    // section or instruction data, kMaxAttributesPerElement, kMaxElementDepth,
    // and entity chains of kMaxEntityChain (kMaxEntityChainInAttribute in an
    // attribute value). Save and GetXML refuse what would break them.

    // Parses XML text; S_FALSE when it does not parse (a null pointer is "").
    long LoadXML(const wchar_t* xml);
    // Parses the named file; S_FALSE when it cannot be read or does not parse.
    long Load(std::wstring path);
    // Writes the document to the named file; a negative code when it cannot,
    // leaving any existing file as it was. The file is replaced atomically
    // (old or new content, never a mix, even if the process is killed), with
    // two exceptions where the file itself is rewritten in place, as on
    // Windows, and a crash part way is not covered: a file with more than one
    // hard link (so that every name sees the new content) and a writable file
    // in a folder where no new file can be made. A file without any write
    // permission bit is never written, whoever the caller (root included):
    // E_ACCESSDENIED. A document without a root element, or one whose saved
    // form the loader would refuse (see the limits below), is refused with
    // nothing written: E_FAIL without a root element or too deep,
    // HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) past a size limit.
    long Save(std::wstring path);
    // Serialises the node (the whole document for an empty handle) into `xml`;
    // on failure `xml` is left as passed (ERROR_FILE_TOO_LARGE past a size limit).
    long GetXML(std::wstring& xml, CComPtr<IXMLDOMNode> node = CComPtr<IXMLDOMNode>());
    // Appends the declaration <?xml version="1.0" encoding="gb2312"?>; meant
    // for an empty document (refused behind other top-level nodes).
    long AppendProcessingInstruction();

    // ---- document access and path queries ---------------------------------
    // Limit of one XPath evaluation (every member that takes an expression):
    // 50,000,000 of libxml2's XPath operations (about one per node a step
    // visits or a union takes in), or 250,000 for an expression that names the
    // namespace axis, which copies every declaration in scope at each element
    // it visits. Past it the member fails with E_ABORT and nothing changes.
    // The heaviest query measured on a 10 MB file of 200,000 records needed
    // 5,400,000 operations.
    // A new reference to the document (empty when the object has none).
    CComPtr<IXMLDOMDocument> GetDomDocument();
    // The root element; S_FALSE and an empty handle when there is none.
    long GetDOMElement(CComPtr<IXMLDOMElement>& element);
    // The root element; S_FALSE when there is none, and `node` is left as passed.
    long GetRootNode(CComPtr<IXMLDOMNode>& node);
    // First node the XPath expression selects from `context` (the document
    // when empty); S_FALSE and an empty handle when none.
    long GetSingleNode(std::wstring xpath, CComPtr<IXMLDOMNode>& node,
                       CComPtr<IXMLDOMNode> context = CComPtr<IXMLDOMNode>());
    // Every selected node, in document order; on failure `nodes` is left as passed.
    long GetNodes(std::wstring xpath, std::vector<CComPtr<IXMLDOMNode>>& nodes,
                  CComPtr<IXMLDOMNode> context = CComPtr<IXMLDOMNode>());
    // Number of nodes the expression selects in the document; on failure
    // `count` is left as passed.
    long GetNodesCount(std::wstring xpath, long& count);
    // The same into a LONG, as Windows code declares it.
    long GetNodesCount(std::wstring xpath, LONG& count) {
        return LongOut(count, [&](long& wide) { return GetNodesCount(std::move(xpath), wide); });
    }

    // ---- node text ---------------------------------------------------------
    // The node's text (an element's includes its descendants' text).
    long GetNodeValue(CComPtr<IXMLDOMNode> node, std::wstring& value);
    // The node's name without prefix, then its text.
    long GetNodeValue(CComPtr<IXMLDOMNode> node, std::wstring& name, std::wstring& value);
    // The text of the first node the path selects; `value` kept when none.
    long GetNodeValue(std::wstring xpath, std::wstring& value);
    // Replaces the node's content by the text.
    long SetNodeValue(CComPtr<IXMLDOMNode> node, std::wstring value);
    // Replaces the content of the first node the path selects.
    long SetNodeValue(std::wstring xpath, std::wstring value);
    // The text of every node the path selects, in document order.
    long GetNodeValues(std::wstring xpath, std::vector<std::wstring>& values);

    // ---- child navigation --------------------------------------------------
    // First child of any type; S_FALSE and an empty handle when none.
    long GetFirstChildNode(CComPtr<IXMLDOMNode> node, CComPtr<IXMLDOMNode>& child);
    long GetFirstChildNode(std::wstring xpath, CComPtr<IXMLDOMNode>& child);
    // The following sibling; S_FALSE and an empty handle after the last one.
    long GetNextSiblingNode(CComPtr<IXMLDOMNode> node, CComPtr<IXMLDOMNode>& sibling);
    // All children of any type, in order (the list is replaced).
    long GetChildNodes(CComPtr<IXMLDOMNode> node, std::vector<CComPtr<IXMLDOMNode>>& children);
    long GetChildNodes(std::wstring xpath, std::vector<CComPtr<IXMLDOMNode>>& children);
    // Number of children of any type.
    long GetChildNodeCount(CComPtr<IXMLDOMNode> node, long& count);
    long GetChildNodeCount(std::wstring xpath, long& count);
    // The same into a LONG, as Windows code declares it.
    long GetChildNodeCount(CComPtr<IXMLDOMNode> node, LONG& count) {
        return LongOut(count, [&](long& wide) { return GetChildNodeCount(std::move(node), wide); });
    }
    long GetChildNodeCount(std::wstring xpath, LONG& count) {
        return LongOut(count,
                       [&](long& wide) { return GetChildNodeCount(std::move(xpath), wide); });
    }

    // ---- named children ----------------------------------------------------
    // First direct child whose name without prefix equals `name`; an empty
    // handle (S_FALSE recorded) when none.
    CComPtr<IXMLDOMNode> GetChildNode(CComPtr<IXMLDOMNode> node, std::wstring name);
    // Text of that child; S_FALSE and `value` kept when there is none.
    long GetChildNodeValue(CComPtr<IXMLDOMNode> node, std::wstring name, std::wstring& value);
    // Replaces that child's text; S_FALSE and nothing created when there is none.
    long SetChildNodeVaule(CComPtr<IXMLDOMNode> node, std::wstring name, std::wstring value);

    // ---- attributes --------------------------------------------------------
    // Value of the first attribute whose name without prefix equals `name`;
    // "" with S_OK when absent; S_FALSE for a node without attributes.
    long GetNodeAttr(CComPtr<IXMLDOMNode> node, std::wstring name, std::wstring& value);
    long GetNodeAttr(std::wstring xpath, std::wstring name, std::wstring& value);
    // Sets (or replaces) the attribute `name`; S_FALSE for a node without attributes.
    long SetNodeAttr(CComPtr<IXMLDOMNode> node, std::wstring name, std::wstring value);
    long SetNodeAttr(std::wstring xpath, std::wstring name, std::wstring value);
    // All attributes as parallel lists of names (without prefix) and values.
    long GetNodeAttrs(CComPtr<IXMLDOMNode> node, std::vector<std::wstring>& names,
                      std::vector<std::wstring>& values);
    long GetNodeAttrs(std::wstring xpath, std::vector<std::wstring>& names,
                      std::vector<std::wstring>& values);
    // Sets each name/value pair in order, stopping at the first failure;
    // S_FALSE and nothing written when the lists differ in length.
    long SetNodeAttrs(CComPtr<IXMLDOMNode> node, std::vector<std::wstring>& names,
                      std::vector<std::wstring>& values);
    long SetNodeAttrs(std::wstring xpath, std::vector<std::wstring>& names,
                      std::vector<std::wstring>& values);

    // ---- tree editing ------------------------------------------------------
    // A new element of this document, outside the tree, with `value` as text;
    // empty (and a message on stdout) when it cannot be made.
    CComPtr<IXMLDOMNode> CreateNode(std::wstring name, std::wstring value);
    // Appends a new element with text under `parent` (the document when
    // empty); empty (and a message on stdout) on failure.
    CComPtr<IXMLDOMNode> AppendChildNode(CComPtr<IXMLDOMNode> parent, std::wstring name,
                                         std::wstring value);
    // Appends a copy of `node` (its subtree too when `deep`) under `parent`
    // (the document when empty); empty on failure.
    CComPtr<IXMLDOMNode> AppendChildNode(CComPtr<IXMLDOMNode> parent, CComPtr<IXMLDOMNode> node,
                                         short deep);
    // Detaches `child` from `parent`.
    long RemoveChild(CComPtr<IXMLDOMNode> parent, CComPtr<IXMLDOMNode> child);
    // Detaches the node from its parent; S_FALSE when it has none.
    long RemoveNode(CComPtr<IXMLDOMNode> node);
    long RemoveNode(std::wstring xpath);
    // Removes every child of the node.
    long RemoveAllChild(CComPtr<IXMLDOMNode> node);
    long RemoveAllChild(std::wstring xpath);

    // ---- device identity ---------------------------------------------------
    // Sets attribute ID = "Win32_" + the machine's lowest permanent adapter address.
    long AddIDToNode(CComPtr<IXMLDOMNode> node);
    // Appends the declaration and a root element Root stamped with ID; empty on
    // failure (test IsError() even on success: the ID may be missing).
    CComPtr<IXMLDOMNode> CreateXMLWithID();

  protected:
    CComPtr<IXMLDOMDocument> m_pDoc;
    HRESULT m_hr;

  private:
    friend struct CXMLUtilTestAccess;

    // Runs `count` on a long holding `out`'s value and writes the result
    // back into the LONG, so an output the call leaves alone stays as passed.
    template <class Count>
    static long LongOut(LONG& out, Count count) {
        long wide = out;
        const long hr = count(wide);
        out = static_cast<LONG>(wide);
        return hr;
    }

    // Runs the document creation sequence with the given async flag.
    long CreateEmptyXML(short async);
    // Writes the lowest permanent adapter address as 12 upper-case hex digits
    // (all zero when no adapter answers) and returns 0; -1 when the adapter
    // list cannot be had (out is then untouched).
    long GetMinAdapterRealMAC(wchar_t* out);
};

// Appends deep copies of the children of /Root/Menu of the menu file under
// `parent`. Reports nothing: always 0.
extern "C" XMLUTIL_API int LoadMenuXml(CComPtr<IXMLDOMNode>& parent, const wchar_t* path);
