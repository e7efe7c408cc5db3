// SPDX-License-Identifier: MIT
// The input is a program of library calls on two document objects and a
// pool of node handles: load, query, read and write text and attributes,
// append by name and by copy (across the two documents), remove, remove all,
// copy through the node constructor, replace a document object, release
// handles in any order. Sanitizers catch lifetime faults; at the end every
// document that has a root element must serialise to text that loads.
#include <array>
#include <memory>
#include <vector>

#include "fuzz_input.h"

namespace fuzz::calls {

const wchar_t* const kDocuments[] = {
    LR"(<Root ID="1"><Menu><Item a="1">one</Item><Item>two<b>bold</b></Item></Menu><x/></Root>)",
    LR"(<?xml version="1.0" encoding="gb2312"?><!--c--><Root xmlns:p="urn:p"><p:a p:k="v">t</p:a><?pi d?><![CDATA[cd]]></Root>)",
    LR"(<a xml:space="preserve"> <b> </b> text <c/></a>)",
    LR"(<d><e><f><g>deep</g></f></e></d>)",
};
const wchar_t* const kExpressions[] = {
    L"//*",          L"//@*",        L"//namespace::*",
    L"//text()",     L"/",           L"/*",
    L"//node()",     L"//comment()", L"..",
    L"count(//*)",   L"//a[",        L"*",
    L"@*",           L"node()",      L"//processing-instruction()",
    L"/*/*[last()]",
};
const wchar_t* const kNames[] = {
    L"a",        L"b",         L"Item", L"ID",  L"p:a", L"xmlns", L"xmlns:p",
    L"xml:lang", L"xml:space", L"",     L"a b", L"1a",  L"q:z",   L"Root",
};
const wchar_t* const kTexts[] = {
    L"",          L"x",        L"a&b<c>\"'",    L"]]>",    L"--",
    L"?>",        L"preserve", L"\x0001",       L"\xD800", L"\x110000",
    L"tab\there", L"   ",      L"\x4E2D\x6587", L"\xFFFE", L"ok\x0000hidden",
};

template <class T, size_t N>
const T& Pick(fuzz::ByteReader& in, const T (&table)[N]) {
    return table[in.pick(N)];
}

std::wstring PickText(fuzz::ByteReader& in) {
    if (in.next() % 8 == 0) return in.text(in.next() % 16);
    const wchar_t* text = Pick(in, kTexts);
    // The table holds one entry with an embedded NUL: keep it whole.
    return text == kTexts[14] ? std::wstring(text, 9) : std::wstring(text);
}

struct Machine {
    std::array<std::unique_ptr<CXMLUtil>, 2> docs{std::make_unique<CXMLUtil>(),
                                                  std::make_unique<CXMLUtil>()};
    std::array<CComPtr<IXMLDOMNode>, 12> slots;

    CXMLUtil& Doc(fuzz::ByteReader& in) { return *docs[in.pick(docs.size())]; }
    CComPtr<IXMLDOMNode>& Slot(fuzz::ByteReader& in) { return slots[in.pick(slots.size())]; }

    void Store(const std::vector<CComPtr<IXMLDOMNode>>& nodes, fuzz::ByteReader& in) {
        for (size_t i = 0; i < nodes.size() && i < 4; ++i) Slot(in) = nodes[(i * 7) % nodes.size()];
    }

    void Step(fuzz::ByteReader& in) {
        using fuzz::CheckResult;
        switch (in.next() % 24) {
            case 0: {
                const long hr = Doc(in).LoadXML(Pick(in, kDocuments));
                if (hr != S_OK) fuzz::Fail("a seed document does not load");
                break;
            }
            case 1: {
                const std::wstring text = in.text(in.next());
                const long hr = Doc(in).LoadXML(text.c_str());
                if (hr != S_OK && hr != S_FALSE) fuzz::Fail("LoadXML result");
                break;
            }
            case 2: {
                std::vector<CComPtr<IXMLDOMNode>> nodes;
                CheckResult(Doc(in).GetNodes(Pick(in, kExpressions), nodes, Slot(in)), "GetNodes");
                Store(nodes, in);
                break;
            }
            case 3: {
                CXMLUtil& doc = Doc(in);
                const std::wstring expression = Pick(in, kExpressions);
                CComPtr<IXMLDOMNode> context = Slot(in);
                CheckResult(doc.GetSingleNode(expression, Slot(in), context), "GetSingleNode");
                break;
            }
            case 4: {
                long count = 0;
                CheckResult(Doc(in).GetNodesCount(Pick(in, kExpressions), count), "GetNodesCount");
                break;
            }
            case 5: {
                std::wstring name, value;
                CheckResult(Doc(in).GetNodeValue(Slot(in), name, value), "GetNodeValue");
                break;
            }
            case 6:
                CheckResult(Doc(in).SetNodeValue(Slot(in), PickText(in)), "SetNodeValue");
                break;
            case 7: {
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> node = Slot(in);
                CheckResult(doc.SetNodeAttr(node, Pick(in, kNames), PickText(in)), "SetNodeAttr");
                break;
            }
            case 8: {
                std::wstring value;
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> node = Slot(in);
                CheckResult(doc.GetNodeAttr(node, Pick(in, kNames), value), "GetNodeAttr");
                break;
            }
            case 9: {
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> parent = Slot(in);
                const std::wstring name = Pick(in, kNames);
                Slot(in) = doc.AppendChildNode(parent, name, PickText(in)).p;
                break;
            }
            case 10: {
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> parent = Slot(in);
                CComPtr<IXMLDOMNode> node = Slot(in);
                const short deep = (in.next() & 1) ? VARIANT_TRUE : VARIANT_FALSE;
                Slot(in) = doc.AppendChildNode(parent, node, deep).p;
                break;
            }
            case 11:
                CheckResult(Doc(in).RemoveNode(Slot(in)), "RemoveNode");
                break;
            case 12:
                CheckResult(Doc(in).RemoveAllChild(Slot(in)), "RemoveAllChild");
                break;
            case 13: {
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> parent = Slot(in);
                CheckResult(doc.RemoveChild(parent, Slot(in)), "RemoveChild");
                break;
            }
            case 14: {
                CXMLUtil copy(Slot(in));
                std::vector<CComPtr<IXMLDOMNode>> nodes;
                CheckResult(copy.GetNodes(Pick(in, kExpressions), nodes), "GetNodes on a copy");
                Store(nodes, in);
                break;
            }
            case 15:
                Slot(in).Release();
                break;
            case 16:
                docs[in.pick(docs.size())] = std::make_unique<CXMLUtil>();
                break;
            case 17: {
                std::wstring xml;
                CheckResult(Doc(in).GetXML(xml, Slot(in)), "GetXML");
                break;
            }
            case 18: {
                std::vector<CComPtr<IXMLDOMNode>> children;
                CheckResult(Doc(in).GetChildNodes(Slot(in), children), "GetChildNodes");
                Store(children, in);
                break;
            }
            case 19: {
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> node = Slot(in);
                CComPtr<IXMLDOMNode>& out = Slot(in);
                if (in.next() & 1) {
                    CheckResult(doc.GetFirstChildNode(node, out), "GetFirstChildNode");
                } else {
                    CheckResult(doc.GetNextSiblingNode(node, out), "GetNextSiblingNode");
                }
                break;
            }
            case 20: {
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> node = Slot(in);
                Slot(in) = doc.GetChildNode(node, Pick(in, kNames)).p;
                break;
            }
            case 21: {
                std::vector<std::wstring> names, values;
                CXMLUtil& doc = Doc(in);
                CComPtr<IXMLDOMNode> node = Slot(in);
                CheckResult(doc.GetNodeAttrs(node, names, values), "GetNodeAttrs");
                if (names.size() != values.size())
                    fuzz::Fail("attribute lists of different lengths");
                CXMLUtil& target = Doc(in);
                CheckResult(target.SetNodeAttrs(Slot(in), names, values), "SetNodeAttrs");
                break;
            }
            case 22:
                CheckResult(Doc(in).GetRootNode(Slot(in)), "GetRootNode");
                break;
            default: {
                CXMLUtil& doc = Doc(in);
                CheckResult(doc.AppendProcessingInstruction(), "AppendProcessingInstruction");
                break;
            }
        }
    }

    // A document with a root element serialises to text that loads again.
    void CheckSerialisable() {
        for (auto& doc : docs) {
            CComPtr<IXMLDOMNode> root;
            if (doc->GetRootNode(root) != S_OK) continue;
            std::wstring xml;
            if (doc->GetXML(xml) != S_OK) fuzz::Fail("GetXML of a document failed");
            CXMLUtil again;
            if (again.LoadXML(xml.c_str()) != S_OK)
                fuzz::Fail("edited document does not load", xml);
        }
    }
};

int TestOneInput(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    auto machine = std::make_unique<Machine>();
    for (int steps = 0; !in.done() && steps < 200; ++steps) machine->Step(in);
    machine->CheckSerialisable();
    // Release the handles in an order the input chooses, around the documents.
    const size_t documentsGoAt = in.pick(machine->slots.size());
    for (size_t i = 0; i < machine->slots.size(); ++i) {
        if (i == documentsGoAt) machine->docs = {};
        machine->slots[(i * 5 + documentsGoAt) % machine->slots.size()].Release();
    }
    return 0;
}

}  // namespace fuzz::calls

#ifndef XMLUTIL_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::calls::TestOneInput(data, size);
}
#endif
