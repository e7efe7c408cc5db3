// SPDX-License-Identifier: MIT
// The input is a program of library calls on two document objects and a
// pool of node handles: load, query, read and write text and attributes,
// append by name and by copy (across the two documents), remove, remove all,
// copy through the node constructor, replace a document object, release
// handles in any order; save to a file and load it back in the middle of a
// sequence, copy-construct and assign document objects, and call the DOM
// objects' own child and attribute operations with any node of the pool
// (attributes, namespace nodes and documents included) as any argument.
// Sanitizers catch lifetime faults; a file saved with a root element must
// load, and at the end every document that has a root element must
// serialise to text that loads.
#include <array>
#include <cstdio>
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
    if (in.next() % 8 == 0) {
        const size_t length = in.next() % 16;
        return in.text(length);
    }
    const wchar_t* text = Pick(in, kTexts);
    // The table holds one entry with an embedded NUL: keep it whole.
    return text == kTexts[14] ? std::wstring(text, 9) : std::wstring(text);
}

struct Machine {
    std::array<std::unique_ptr<CXMLUtil>, 2> docs{std::make_unique<CXMLUtil>(),
                                                  std::make_unique<CXMLUtil>()};
    std::array<CComPtr<IXMLDOMNode>, 12> slots;
    static constexpr int kMaxDeepCopies = 6;
    int deepCopies = 0;

    CXMLUtil& Doc(fuzz::ByteReader& in) { return *docs[in.pick(docs.size())]; }
    CComPtr<IXMLDOMNode>& Slot(fuzz::ByteReader& in) { return slots[in.pick(slots.size())]; }

    void Store(const std::vector<CComPtr<IXMLDOMNode>>& nodes, fuzz::ByteReader& in) {
        for (size_t i = 0; i < nodes.size() && i < 4; ++i) Slot(in) = nodes[(i * 7) % nodes.size()];
    }

    // Every operand is read in its own statement, so an input means the same
    // program whatever order a compiler evaluates call arguments in. Bytes
    // 0-239 choose the operations they chose before the DOM-level ones were
    // added (kept regression inputs replay the same program); 240-255 choose
    // the later ones.
    void Step(fuzz::ByteReader& in) {
        using fuzz::CheckResult;
        const uint8_t code = in.next();
        if (code >= kLaterOperations) return LaterStep(code - kLaterOperations, in);
        const uint8_t op = code % 24;
        CXMLUtil& doc = Doc(in);
        switch (op) {
            case 0: {
                const wchar_t* text = Pick(in, kDocuments);
                if (doc.LoadXML(text) != S_OK) fuzz::Fail("a seed document does not load");
                break;
            }
            case 1: {
                const size_t length = in.next();
                const std::wstring text = in.text(length);
                const long hr = doc.LoadXML(text.c_str());
                if (hr != S_OK && hr != S_FALSE) fuzz::Fail("LoadXML result");
                break;
            }
            case 2: {
                const std::wstring expression = Pick(in, kExpressions);
                const CComPtr<IXMLDOMNode> context = Slot(in);
                std::vector<CComPtr<IXMLDOMNode>> nodes;
                CheckResult(doc.GetNodes(expression, nodes, context), "GetNodes");
                Store(nodes, in);
                break;
            }
            case 3: {
                const std::wstring expression = Pick(in, kExpressions);
                const CComPtr<IXMLDOMNode> context = Slot(in);
                CComPtr<IXMLDOMNode>& out = Slot(in);
                CheckResult(doc.GetSingleNode(expression, out, context), "GetSingleNode");
                break;
            }
            case 4: {
                const std::wstring expression = Pick(in, kExpressions);
                long count = 0;
                CheckResult(doc.GetNodesCount(expression, count), "GetNodesCount");
                break;
            }
            case 5: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                std::wstring name, value;
                CheckResult(doc.GetNodeValue(node, name, value), "GetNodeValue");
                break;
            }
            case 6: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                const std::wstring text = PickText(in);
                CheckResult(doc.SetNodeValue(node, text), "SetNodeValue");
                break;
            }
            case 7: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                const std::wstring name = Pick(in, kNames);
                const std::wstring value = PickText(in);
                CheckResult(doc.SetNodeAttr(node, name, value), "SetNodeAttr");
                break;
            }
            case 8: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                const std::wstring name = Pick(in, kNames);
                std::wstring value;
                CheckResult(doc.GetNodeAttr(node, name, value), "GetNodeAttr");
                break;
            }
            case 9: {
                const CComPtr<IXMLDOMNode> parent = Slot(in);
                const std::wstring name = Pick(in, kNames);
                const std::wstring value = PickText(in);
                CComPtr<IXMLDOMNode>& out = Slot(in);
                out = doc.AppendChildNode(parent, name, value).p;
                break;
            }
            case 10: {
                const CComPtr<IXMLDOMNode> parent = Slot(in);
                const CComPtr<IXMLDOMNode> node = Slot(in);
                // Each deep copy of a node into itself doubles the tree: allow
                // a few, so that no input grows without bound.
                const bool deep = (in.next() & 1) != 0 && deepCopies < kMaxDeepCopies;
                if (deep) ++deepCopies;
                CComPtr<IXMLDOMNode>& out = Slot(in);
                out = doc.AppendChildNode(parent, node, deep ? VARIANT_TRUE : VARIANT_FALSE).p;
                break;
            }
            case 11: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                CheckResult(doc.RemoveNode(node), "RemoveNode");
                break;
            }
            case 12: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                CheckResult(doc.RemoveAllChild(node), "RemoveAllChild");
                break;
            }
            case 13: {
                const CComPtr<IXMLDOMNode> parent = Slot(in);
                const CComPtr<IXMLDOMNode> child = Slot(in);
                CheckResult(doc.RemoveChild(parent, child), "RemoveChild");
                break;
            }
            case 14: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                const std::wstring expression = Pick(in, kExpressions);
                CXMLUtil copy(node);
                std::vector<CComPtr<IXMLDOMNode>> nodes;
                CheckResult(copy.GetNodes(expression, nodes), "GetNodes on a copy");
                Store(nodes, in);
                break;
            }
            case 15:
                Slot(in).Release();
                break;
            case 16: {
                // Replaces the other document object (`doc` stays valid).
                auto& other = docs[0].get() == &doc ? docs[1] : docs[0];
                other = std::make_unique<CXMLUtil>();
                break;
            }
            case 17: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                std::wstring xml;
                CheckResult(doc.GetXML(xml, node), "GetXML");
                break;
            }
            case 18: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                std::vector<CComPtr<IXMLDOMNode>> children;
                CheckResult(doc.GetChildNodes(node, children), "GetChildNodes");
                Store(children, in);
                break;
            }
            case 19: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                CComPtr<IXMLDOMNode>& out = Slot(in);
                if (in.next() & 1) {
                    CheckResult(doc.GetFirstChildNode(node, out), "GetFirstChildNode");
                } else {
                    CheckResult(doc.GetNextSiblingNode(node, out), "GetNextSiblingNode");
                }
                break;
            }
            case 20: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                const std::wstring name = Pick(in, kNames);
                CComPtr<IXMLDOMNode>& out = Slot(in);
                out = doc.GetChildNode(node, name).p;
                break;
            }
            case 21: {
                const CComPtr<IXMLDOMNode> node = Slot(in);
                std::vector<std::wstring> names, values;
                CheckResult(doc.GetNodeAttrs(node, names, values), "GetNodeAttrs");
                if (names.size() != values.size())
                    fuzz::Fail("attribute lists of different lengths");
                CXMLUtil& target = Doc(in);
                const CComPtr<IXMLDOMNode> to = Slot(in);
                CheckResult(target.SetNodeAttrs(to, names, values), "SetNodeAttrs");
                break;
            }
            case 22:
                CheckResult(doc.GetRootNode(Slot(in)), "GetRootNode");
                break;
            default:
                CheckResult(doc.AppendProcessingInstruction(), "AppendProcessingInstruction");
                break;
        }
    }

    static constexpr uint8_t kLaterOperations = 240;

    static const std::string& MidSequencePath() {
        static const std::string path = fuzz::TempPath("calls-mid");
        return path;
    }

    // A node of the pool, or now and then the document node itself.
    CComPtr<IXMLDOMNode> AnyNode(fuzz::ByteReader& in) {
        if (in.next() % 8 != 0) return Slot(in);
        CComPtr<IXMLDOMDocument> document = Doc(in).GetDomDocument();
        CComPtr<IXMLDOMNode> node;
        if (document != nullptr) document.QueryInterface(&node);
        return node;
    }

    void LaterStep(uint8_t op, fuzz::ByteReader& in) {
        using fuzz::CheckResult;
        CXMLUtil& doc = Doc(in);
        switch (op % 12) {
            case 0: {
                // Saved mid-sequence and loaded back, into either object.
                const std::string& path = MidSequencePath();
                CComPtr<IXMLDOMNode> root;
                const bool hasRoot = doc.GetRootNode(root) == S_OK;
                const long saved = doc.Save(fuzz::Wide(path));
                CheckResult(saved, "Save");
                CXMLUtil& target = Doc(in);
                const long loaded = target.Load(fuzz::Wide(path));
                CheckResult(loaded, "Load");
                if (saved == S_OK && hasRoot && loaded != S_OK) {
                    fuzz::Fail("a saved document does not load");
                }
                break;
            }
            case 1: {
                // A copy shares the document; work through it, then drop it.
                CXMLUtil copy(doc);
                const CComPtr<IXMLDOMNode> node = Slot(in);
                const std::wstring text = PickText(in);
                CheckResult(copy.SetNodeValue(node, text), "SetNodeValue on a copy");
                break;
            }
            case 2: {
                // One object takes the other's document (or its own) by assignment.
                const size_t to = in.pick(docs.size());
                *docs[to] = doc;
                break;
            }
            case 3: {
                // A copy-constructed object replaces one of the two.
                const size_t to = in.pick(docs.size());
                docs[to] = std::make_unique<CXMLUtil>(doc);
                break;
            }
            case 4: {
                const CComPtr<IXMLDOMNode> parent = AnyNode(in);
                const CComPtr<IXMLDOMNode> child = AnyNode(in);
                const CComPtr<IXMLDOMNode> reference = AnyNode(in);
                if (parent == nullptr) break;
                VARIANT before;
                VariantInit(&before);
                if (reference != nullptr) {
                    before.vt = VT_UNKNOWN;
                    before.punkVal = reference;
                }
                CComPtr<IXMLDOMNode> out;
                CheckResult(parent->insertBefore(child, before, &out), "insertBefore");
                Slot(in) = out;
                break;
            }
            case 5: {
                const CComPtr<IXMLDOMNode> parent = AnyNode(in);
                const CComPtr<IXMLDOMNode> child = AnyNode(in);
                if (parent == nullptr) break;
                CComPtr<IXMLDOMNode> out;
                CheckResult(parent->appendChild(child, &out), "appendChild");
                Slot(in) = out;
                break;
            }
            case 6: {
                const CComPtr<IXMLDOMNode> parent = AnyNode(in);
                const CComPtr<IXMLDOMNode> child = AnyNode(in);
                if (parent == nullptr) break;
                CComPtr<IXMLDOMNode> out;
                CheckResult(parent->removeChild(child, &out), "removeChild");
                Slot(in) = out;
                break;
            }
            case 7: {
                const CComPtr<IXMLDOMNode> element = AnyNode(in);
                const CComPtr<IXMLDOMNode> attribute = AnyNode(in);
                CComPtr<IXMLDOMNamedNodeMap> map;
                if (element == nullptr || element->get_attributes(&map) != S_OK) break;
                CComPtr<IXMLDOMNode> out;
                CheckResult(map->setNamedItem(attribute, &out), "setNamedItem");
                Slot(in) = out;
                break;
            }
            case 8: {
                const CComPtr<IXMLDOMNode> element = AnyNode(in);
                const std::wstring name = Pick(in, kNames);
                CComPtr<IXMLDOMNamedNodeMap> map;
                if (element == nullptr || element->get_attributes(&map) != S_OK) break;
                BSTR bstr = SysAllocString(name.c_str());
                CComPtr<IXMLDOMNode> out;
                CheckResult(map->removeNamedItem(bstr, &out), "removeNamedItem");
                SysFreeString(bstr);
                Slot(in) = out;
                break;
            }
            case 9: {
                const CComPtr<IXMLDOMNode> node = AnyNode(in);
                const bool deep = (in.next() & 1) != 0 && deepCopies < kMaxDeepCopies;
                if (deep) ++deepCopies;
                if (node == nullptr) break;
                CComPtr<IXMLDOMNode> clone;
                CheckResult(node->cloneNode(deep ? VARIANT_TRUE : VARIANT_FALSE, &clone),
                            "cloneNode");
                Slot(in) = clone;
                break;
            }
            case 10: {
                const CComPtr<IXMLDOMNode> node = AnyNode(in);
                const std::wstring text = PickText(in);
                if (node == nullptr) break;
                BSTR bstr = SysAllocString(text.c_str());
                if (in.next() & 1) {
                    CheckResult(node->put_text(bstr), "put_text");
                } else {
                    VARIANT value;
                    VariantInit(&value);
                    value.vt = VT_BSTR;
                    value.bstrVal = bstr;
                    CheckResult(node->put_nodeValue(value), "put_nodeValue");
                }
                SysFreeString(bstr);
                break;
            }
            default: {
                // The node's parent, its first child or its owner document.
                const CComPtr<IXMLDOMNode> node = AnyNode(in);
                const uint8_t which = in.next() % 3;
                if (node == nullptr) break;
                CComPtr<IXMLDOMNode> out;
                if (which == 0) {
                    CheckResult(node->get_parentNode(&out), "get_parentNode");
                } else if (which == 1) {
                    CheckResult(node->get_firstChild(&out), "get_firstChild");
                } else {
                    CComPtr<IXMLDOMDocument> owner;
                    CheckResult(node->get_ownerDocument(&owner), "get_ownerDocument");
                    if (owner != nullptr) owner.QueryInterface(&out);
                }
                Slot(in) = out;
                break;
            }
        }
    }

    // A document with a root element serialises to text that loads, and saves
    // to a file that loads as that same text (loading drops whitespace-only
    // text beside other nodes: compare with the text as loaded).
    void CheckSerialisable() {
        static const std::string path = fuzz::TempPath("calls");
        for (auto& doc : docs) {
            CComPtr<IXMLDOMNode> root;
            if (doc->GetRootNode(root) != S_OK) continue;
            std::wstring xml;
            if (doc->GetXML(xml) != S_OK) fuzz::Fail("GetXML of a document failed");
            CXMLUtil again;
            if (again.LoadXML(xml.c_str()) != S_OK) {
                fuzz::Fail("edited document does not load", xml);
            }
            std::wstring loaded;
            again.GetXML(loaded);
            const long saved = doc->Save(fuzz::Wide(path));
            fuzz::CheckResult(saved, "Save");
            if (saved != S_OK) continue;
            CXMLUtil back;
            if (back.Load(fuzz::Wide(path)) != S_OK)
                fuzz::Fail("saved document does not load", xml);
            std::wstring reloaded;
            back.GetXML(reloaded);
            if (reloaded != loaded) {
                fuzz::Fail("document changed through Save + Load", loaded + L"\n----\n" + reloaded);
            }
        }
        std::remove(path.c_str());
    }
};

int TestOneInput(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    auto machine = std::make_unique<Machine>();
    for (int steps = 0; !in.done() && steps < 200; ++steps) machine->Step(in);
    machine->CheckSerialisable();
    std::remove(Machine::MidSequencePath().c_str());
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
