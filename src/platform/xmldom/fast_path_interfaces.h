// SPDX-License-Identifier: MIT
// Extension interfaces of the DOM service's objects, declared without libxml2
// so that the library's members can ask for them: a whole node list in one
// call instead of one get_item (and one reference taken and dropped) per
// node, and the like for attribute maps and the document. Asked for through
// QueryInterface, the service's objects answer without adding a reference
// (the caller holds the object); objects of other implementations answer
// E_NOINTERFACE and callers fall back to the plain interfaces.
#pragma once

#include <string>
#include <vector>

#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace xmlutil::xmldom {

inline constexpr IID IID_XmlutilNodeArray = {
    0x3c8e57a1, 0x0b2d, 0x4f69, {0x9e, 0x14, 0x6a, 0xd3, 0x27, 0x80, 0x5b, 0xc2}};

class INodeArray {
  public:
    // Replaces the content of `nodes` with the list's nodes, in order. A list
    // of selected nodes hands its own references over and is empty
    // afterwards: ask for it only on a list nobody else holds. S_OK, or
    // E_OUTOFMEMORY with `nodes` as it was.
    virtual HRESULT TakeNodes(std::vector<CComPtr<IXMLDOMNode>>& nodes) = 0;

  protected:
    ~INodeArray() = default;
};

// The same for attribute maps: every item's base name and text (what
// get_baseName and get_text of each item give) without a node object, a
// BSTR or a reference per item.
inline constexpr IID IID_XmlutilAttributeReader = {
    0x8a0f3d62, 0x5c1e, 0x4b7a, {0xa4, 0x3b, 0x91, 0x0e, 0x6d, 0x25, 0xf8, 0x47}};

class IAttributeReader {
  public:
    // Replaces `names` and `values` with the base name and the text of every
    // item, in the map's order. S_OK, or E_OUTOFMEMORY with both as they were.
    virtual HRESULT ReadAll(std::vector<std::wstring>& names,
                            std::vector<std::wstring>& values) = 0;
    // The text of the first item whose base name is `name`: S_OK with
    // `value` set, S_FALSE (`value` untouched) when no item has that base
    // name, E_OUTOFMEMORY.
    virtual HRESULT Find(const std::wstring& name, std::wstring& value) = 0;

  protected:
    ~IAttributeReader() = default;
};

// The same for the document object: setting an attribute on a node in one
// step instead of createAttribute, put_nodeValue, get_attributes and
// setNamedItem, with the same checks in the same order and the same result.
inline constexpr IID IID_XmlutilDocumentWriter = {
    0x51d7c0e9, 0x2f6a, 0x4c83, {0xb2, 0x7d, 0x0a, 0x64, 0xe1, 0x39, 0xc5, 0x8e}};

class IDocumentWriter {
  public:
    // Sets attribute `name` of `node` to `value` as those four calls would,
    // the attribute made by this document: E_INVALIDARG for a name or value
    // XML cannot hold, S_FALSE when `node` has no attributes (it is no
    // element), what setNamedItem answers otherwise. `handled` is false (and
    // nothing done) when `node` is not one of this service's.
    virtual HRESULT SetAttributeOf(IXMLDOMNode* node, BSTR name, BSTR value, bool& handled) = 0;

  protected:
    ~IDocumentWriter() = default;
};

// The same for the document object: the text of one attribute of an element
// by its base name, as get_attributes and the map's IAttributeReader::Find
// answer it, without an attribute map object per element read.
inline constexpr IID IID_XmlutilElementAttributeReader = {
    0x2e6b9f41, 0x7a0c, 0x4d1e, {0xb5, 0x38, 0x64, 0xc2, 0x1f, 0x9a, 0x0d, 0x73}};

class IElementAttributeReader {
  public:
    // When `node` is an element of this service's, `handled` is true and the
    // answer is Find's on its map: S_OK with `value` set, S_FALSE (`value`
    // untouched) when it has no such attribute, E_OUTOFMEMORY. Otherwise
    // `handled` is false and nothing was done.
    virtual HRESULT FindAttributeOf(IXMLDOMNode* node, const std::wstring& name,
                                    std::wstring& value, bool& handled) = 0;

  protected:
    ~IElementAttributeReader() = default;
};

// The same for the document object: how many nodes selectNodes would list,
// counted as the engine reads its result, without a node object per match.
inline constexpr IID IID_XmlutilSelectionCounter = {
    0x9b4e2c17, 0x6d3a, 0x4e58, {0x8f, 0x21, 0x3c, 0x7a, 0xb5, 0x0d, 0x94, 0x6e}};

class ISelectionCounter {
  public:
    // S_OK with `count` set, or the failure selectNodes would answer for
    // `query` (`count` untouched).
    virtual HRESULT CountSelected(BSTR query, long& count) = 0;

  protected:
    ~ISelectionCounter() = default;
};

}  // namespace xmlutil::xmldom
