// SPDX-License-Identifier: MIT
// Arbitrary XPath expressions against one fixed document through GetNodes,
// GetSingleNode and GetNodesCount. The three must agree, every node handed
// out must be readable, and handles must stay usable after the document
// object and the lists are gone (namespace-axis results included).
#include <vector>

#include "fuzz_input.h"

namespace fuzz::xpath {

const wchar_t kDocument[] =
    LR"(<?xml version="1.0" encoding="gb2312"?>)"
    LR"(<!DOCTYPE Root [<!ENTITY e "entity text"><!ATTLIST Item key ID #IMPLIED>]>)"
    LR"(<!-- top comment --><?app top instruction?>)"
    LR"(<Root xmlns="urn:default" xmlns:p="urn:p" ID="Win32_001A2B3C4D5E" xml:lang="en">)"
    LR"(<Menu name="main"><Item key="k1" p:flag="yes">First &e;</Item>)"
    LR"(<Item key="k2">Second<![CDATA[ <raw> ]]></Item><!-- in menu --></Menu>)"
    LR"(<p:Menu><p:Item xml:space="preserve">   </p:Item><?pi data?></p:Menu>)"
    LR"(<Deep><a><b><c q:x="1" xmlns:q="urn:q">deep text</c></b></a></Deep>)"
    LR"(mixed <b>bold</b> tail</Root>)";

// Namespace-axis results are copies made per query (XPath has no tree node
// for them): two queries give equal copies, not one object. Every other
// node is one object however it is reached.
bool IsNamespaceCopy(const CComPtr<IXMLDOMNode>& node) {
    DOMNodeType type = NODE_INVALID;
    BSTR name = nullptr;
    node->get_nodeType(&type);
    node->get_nodeName(&name);
    const std::wstring text = name == nullptr ? std::wstring() : std::wstring(name);
    SysFreeString(name);
    return type == NODE_ATTRIBUTE && text.compare(0, 5, L"xmlns") == 0;
}

bool SameNode(CXMLUtil& doc, const CComPtr<IXMLDOMNode>& a, const CComPtr<IXMLDOMNode>& b) {
    if (a.IsEqualObject(b)) return true;
    if (!IsNamespaceCopy(a) || !IsNamespaceCopy(b)) return false;
    std::wstring xmlA, xmlB;
    return doc.GetXML(xmlA, a) == S_OK && doc.GetXML(xmlB, b) == S_OK && xmlA == xmlB;
}

void ReadNode(CXMLUtil& doc, const CComPtr<IXMLDOMNode>& node) {
    std::wstring text;
    std::wstring name;
    fuzz::CheckResult(doc.GetNodeValue(node, name, text), "GetNodeValue");
    std::wstring xml;
    fuzz::CheckResult(doc.GetXML(xml, node), "GetXML of a selected node");
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    fuzz::CheckResult(doc.GetNodeAttrs(node, names, values), "GetNodeAttrs");
    if (names.size() != values.size()) fuzz::Fail("attribute lists of different lengths");
}

int TestOneInput(const uint8_t* data, size_t size) {
    const std::wstring expression = fuzz::WideFromBytes(data, size);
    std::vector<CComPtr<IXMLDOMNode>> kept;
    {
        CXMLUtil doc;
        if (doc.LoadXML(kDocument) != S_OK) fuzz::Fail("the fixed document does not load");

        std::vector<CComPtr<IXMLDOMNode>> nodes;
        const long all = doc.GetNodes(expression, nodes);
        fuzz::CheckResult(all, "GetNodes");
        CComPtr<IXMLDOMNode> first;
        const long one = doc.GetSingleNode(expression, first);
        fuzz::CheckResult(one, "GetSingleNode");
        long count = -7;
        const long counted = doc.GetNodesCount(expression, count);
        fuzz::CheckResult(counted, "GetNodesCount");

        if ((all == S_OK) != (counted == S_OK)) fuzz::Fail("GetNodes and GetNodesCount disagree");
        if (all == S_OK) {
            if (count != static_cast<long>(nodes.size())) fuzz::Fail("count differs from list");
            if (nodes.empty() != (one == S_FALSE)) fuzz::Fail("GetSingleNode disagrees on a match");
            if (!nodes.empty() && (one != S_OK || !SameNode(doc, first, nodes.front()))) {
                fuzz::Fail("GetSingleNode is not the first of GetNodes", expression);
            }
        } else {
            if (one >= 0) fuzz::Fail("GetSingleNode accepts what GetNodes refuses", expression);
            if (count != -7) fuzz::Fail("failed GetNodesCount changed the count");
        }
        for (const auto& node : nodes) {
            if (!node) fuzz::Fail("empty handle in a result list");
            ReadNode(doc, node);
        }
        // Keep every other handle past the list and the document object.
        for (size_t i = 0; i < nodes.size(); i += 2) kept.push_back(nodes[i]);
    }
    CXMLUtil other;
    for (const auto& node : kept) ReadNode(other, node);
    return 0;
}

}  // namespace fuzz::xpath

#ifndef XMLUTIL_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::xpath::TestOneInput(data, size);
}
#endif
