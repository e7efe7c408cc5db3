// SPDX-License-Identifier: MIT
// Attribute lookups answered from the evaluator's index against libxml2's own
// evaluation, through a random sequence of edits. Each lookup
// `P[@x='v']` (the indexed shape) is asked beside `P[@x='v' and true()]`,
// which selects the same nodes but is not an indexed shape, so libxml2
// evaluates it: the two must give the same nodes in the same order, and
// GetSingleNode the first of them.
#include <string>
#include <vector>

#include "fuzz_input.h"

namespace fuzz::xpath_index {

using NodeList = std::vector<CComPtr<IXMLDOMNode>>;

const wchar_t* const kValues[] = {L"K0", L"K1", L"", L" K1", L"K1 ", L"\u4E2D", L"a\"b", L"a'b"};
const wchar_t* const kPaths[] = {L"/Root/Menu/Item",     L"//Item",     L"//Sub",
                                 L"/Root/Menu/Item/Sub", L"/Root/Menu", L"/Root//Sub"};
const wchar_t* const kAttributes[] = {L"id", L"x", L"p:id"};
const wchar_t* const kElements[] = {L"Item", L"Sub", L"Menu"};

class Session {
  public:
    explicit Session(ByteReader& in) : in_(in) {}

    void Run() {
        util_.LoadXML(Document().c_str());
        while (!in_.done()) {
            switch (in_.pick(8)) {
                case 0:
                case 1:
                case 2:
                    Lookup();
                    break;
                case 3:
                    util_.SetNodeAttr(Element(), in_.pick(2) ? L"id" : L"x", Value());
                    break;
                case 4:
                    util_.AppendChildNode(Element(), kElements[in_.pick(3)], L"");
                    break;
                case 5: {
                    // A deep copy of an element into itself doubles the tree: a
                    // few of them are enough, more only make the input slow.
                    const bool deep = in_.pick(2) != 0 && deepCopies_ < kMaxDeepCopies;
                    if (deep) ++deepCopies_;
                    const CComPtr<IXMLDOMNode> parent = Element();
                    util_.AppendChildNode(parent, Element(), deep ? VARIANT_TRUE : VARIANT_FALSE);
                    break;
                }
                case 6:
                    if (in_.pick(2)) {
                        util_.RemoveNode(Element());
                    } else {
                        util_.SetNodeValue(Element(), L"t");
                    }
                    break;
                default:
                    util_.LoadXML(Document().c_str());
                    break;
            }
        }
    }

  private:
    std::wstring Value() {
        if (in_.pick(4) == 0) return in_.text(in_.pick(4));
        return kValues[in_.pick(std::size(kValues))];
    }

    // An attribute written with whichever quote its value does not hold.
    std::wstring Attribute(const wchar_t* name) {
        std::wstring value = Value();
        std::wstring escaped;
        for (wchar_t c : value) {
            if (c == L'<' || c == L'&' || c == L'"') return L"";
            escaped += c;
        }
        return std::wstring(L" ") + name + L"=\"" + escaped + L"\"";
    }

    std::wstring Document() {
        std::wstring xml = L"<Root xmlns:p=\"urn:p\">";
        for (size_t m = 1 + in_.pick(2); m > 0; --m) {
            xml += L"<Menu" + (in_.pick(2) ? Attribute(L"id") : L"") + L">";
            for (size_t i = in_.pick(5); i > 0; --i) {
                xml += L"<Item" + Attribute(L"id") + (in_.pick(2) ? Attribute(L"x") : L"") +
                       (in_.pick(3) ? L"" : Attribute(L"p:id")) +
                       (in_.pick(5) ? L"" : L" xmlns=\"urn:d\"") + L">";
                if (in_.pick(2)) xml += L"<Sub" + Attribute(L"id") + L"/>";
                xml += L"</Item>";
            }
            xml += L"</Menu>";
        }
        return xml + L"</Root>";
    }

    CComPtr<IXMLDOMNode> Element() {
        NodeList all;
        util_.GetNodes(L"//*", all);
        return all.empty() ? CComPtr<IXMLDOMNode>() : all[in_.pick(all.size())];
    }

    void Lookup() {
        const std::wstring value = Value();
        const wchar_t quote = value.find(L'\'') == std::wstring::npos ? L'\'' : L'"';
        if (value.find(quote) != std::wstring::npos) return;  // no literal can hold it
        const std::wstring test =
            std::wstring(L"@") + kAttributes[in_.pick(3)] + L"=" + quote + value + quote;
        const std::wstring path = kPaths[in_.pick(std::size(kPaths))];
        const std::wstring indexed = path + L"[" + test + L"]";
        const std::wstring reference = path + L"[" + test + L" and true()]";
        // Twice: the second answer comes from the index the first one built.
        for (int round = 0; round < 2; ++round) {
            NodeList got;
            NodeList expected;
            const long hrGot = util_.GetNodes(indexed, got);
            const long hrExpected = util_.GetNodes(reference, expected);
            CheckResult(hrGot, "GetNodes");
            if ((hrGot < 0) != (hrExpected < 0)) Fail("indexed lookup fails differently", indexed);
            if (got.size() != expected.size()) Fail("indexed lookup finds another count", indexed);
            for (size_t i = 0; i < got.size(); ++i) {
                if (!got[i].IsEqualObject(expected[i])) Fail("indexed lookup differs", indexed);
            }
            CComPtr<IXMLDOMNode> first;
            const long hrFirst = util_.GetSingleNode(indexed, first);
            if (hrGot < 0) {
                if (hrFirst >= 0) Fail("GetSingleNode accepts a refused lookup", indexed);
            } else if (expected.empty() ? (hrFirst != S_FALSE || first)
                                        : (hrFirst != S_OK || !first.IsEqualObject(expected[0]))) {
                Fail("GetSingleNode is not the first match", indexed);
            }
        }
    }

    static constexpr int kMaxDeepCopies = 6;
    ByteReader& in_;
    CXMLUtil util_;
    int deepCopies_ = 0;
};

int TestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    Session(in).Run();
    return 0;
}

}  // namespace fuzz::xpath_index

#ifndef XMLUTIL_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::xpath_index::TestOneInput(data, size);
}
#endif
