// SPDX-License-Identifier: MIT
// The uniform contracts of the node members: every path form given a path
// that selects nothing, and every node-handle form given an empty handle,
// changes neither its outputs nor the document, and records what it returns.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/private_access.h"
#include "support/test_util.h"

namespace {

using xmlutil::test::XmlTest;

// Every kind of output a member can fill, preset to values a member would
// have to change on purpose.
struct Outputs {
    std::wstring text = L"text before";
    std::wstring name = L"name before";
    CComPtr<IXMLDOMNode> handle;
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    long count = 4242;
    std::vector<std::wstring> texts{L"t1", L"t2"};
    std::vector<std::wstring> names{L"n1", L"n2"};
    std::vector<std::wstring> values{L"v1", L"v2"};
};

struct Form {
    const char* name;
    std::function<long(CXMLUtil&, Outputs&)> call;
    // What a refused call empties: the navigation members empty their node
    // output or list first, as they do when the DOM step fails.
    enum Emptied { kNothing, kHandle, kList } emptied = kNothing;
};

class PathFormsTest : public XmlTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Load(L"<r a='1'><s>x</s><s>y</s></r>"));
        preset_.handle = Node(L"/r/s");
        preset_.nodes = {Node(L"/r"), Node(L"/r/s")};
        ASSERT_HR(util.GetXML(xmlBefore_), S_OK);
    }

    // Runs each form on fresh copies of the preset outputs and checks the
    // result, the recorded result, the outputs and the document.
    void ExpectNothingChanges(const std::vector<Form>& forms, HRESULT expected) {
        for (const Form& form : forms) {
            SCOPED_TRACE(form.name);
            Outputs out = preset_;
            EXPECT_HR(form.call(util, out), expected);
            EXPECT_HR(CXMLUtilTestAccess::RecordedResult(util), expected);
            EXPECT_EQ(out.text, preset_.text);
            EXPECT_EQ(out.name, preset_.name);
            EXPECT_EQ(out.handle.p, form.emptied == Form::kHandle ? nullptr : preset_.handle.p);
            const std::size_t nodesLeft = form.emptied == Form::kList ? 0 : preset_.nodes.size();
            ASSERT_EQ(out.nodes.size(), nodesLeft);
            for (std::size_t i = 0; i < out.nodes.size(); ++i) {
                EXPECT_EQ(out.nodes[i].p, preset_.nodes[i].p);
            }
            EXPECT_EQ(out.count, preset_.count);
            EXPECT_EQ(out.texts, preset_.texts);
            EXPECT_EQ(out.names, preset_.names);
            EXPECT_EQ(out.values, preset_.values);
            std::wstring xml;
            ASSERT_HR(util.GetXML(xml), S_OK);
            EXPECT_EQ(xml, xmlBefore_);
        }
    }

    // Every path form. GetNodeValues is left out of the no-match table: its
    // query succeeds with no match and empties its list, as it should.
    static std::vector<Form> PathForms(const std::wstring& p, bool withNodeValues) {
        std::vector<Form> forms{
            {"GetNodeValue", [p](CXMLUtil& u, Outputs& o) { return u.GetNodeValue(p, o.text); }},
            {"SetNodeValue",
             [p](CXMLUtil& u, Outputs&) { return u.SetNodeValue(p, std::wstring(L"new")); }},
            {"GetFirstChildNode",
             [p](CXMLUtil& u, Outputs& o) { return u.GetFirstChildNode(p, o.handle); }},
            {"GetChildNodes", [p](CXMLUtil& u, Outputs& o) { return u.GetChildNodes(p, o.nodes); }},
            {"GetChildNodeCount",
             [p](CXMLUtil& u, Outputs& o) { return u.GetChildNodeCount(p, o.count); }},
            {"GetNodeAttr",
             [p](CXMLUtil& u, Outputs& o) { return u.GetNodeAttr(p, L"a", o.text); }},
            {"SetNodeAttr", [p](CXMLUtil& u, Outputs&) { return u.SetNodeAttr(p, L"a", L"2"); }},
            {"GetNodeAttrs",
             [p](CXMLUtil& u, Outputs& o) { return u.GetNodeAttrs(p, o.names, o.values); }},
            {"SetNodeAttrs",
             [p](CXMLUtil& u, Outputs& o) { return u.SetNodeAttrs(p, o.names, o.values); }},
        };
        if (withNodeValues) {
            forms.push_back({"GetNodeValues",
                             [p](CXMLUtil& u, Outputs& o) { return u.GetNodeValues(p, o.texts); }});
        }
        return forms;
    }

    Outputs preset_;
    std::wstring xmlBefore_;
};

TEST_F(PathFormsTest, PathSelectingNothingReturnsFalseAndTouchesNothing) {
    ExpectNothingChanges(PathForms(L"/r/missing", false), S_FALSE);
    ExpectNothingChanges(PathForms(L"/r/s/@missing", false), S_FALSE);
}

TEST_F(PathFormsTest, MalformedPathPassesTheQueryFailureOnAndTouchesNothing) {
    const std::wstring malformed = L"/r/s[";
    CComPtr<IXMLDOMNode> node;
    const HRESULT queryFailure = util.GetSingleNode(malformed, node);
    ASSERT_LT(queryFailure, 0);
    ExpectNothingChanges(PathForms(malformed, true), queryFailure);
}

// The one table of the empty-handle contract: every member that takes a node
// handle which must not be empty.
TEST_F(PathFormsTest, EmptyHandleIsRefusedWithoutTouchingAnything) {
    using Handle = CComPtr<IXMLDOMNode>;
    const std::vector<Form> forms{
        {"GetNodeValue", [](CXMLUtil& u, Outputs& o) { return u.GetNodeValue(Handle(), o.text); }},
        {"GetNodeValue with name",
         [](CXMLUtil& u, Outputs& o) { return u.GetNodeValue(Handle(), o.name, o.text); }},
        {"SetNodeValue", [](CXMLUtil& u, Outputs&) { return u.SetNodeValue(Handle(), L"new"); }},
        {"GetFirstChildNode",
         [](CXMLUtil& u, Outputs& o) { return u.GetFirstChildNode(Handle(), o.handle); },
         Form::kHandle},
        {"GetNextSiblingNode",
         [](CXMLUtil& u, Outputs& o) { return u.GetNextSiblingNode(Handle(), o.handle); },
         Form::kHandle},
        {"GetChildNodes",
         [](CXMLUtil& u, Outputs& o) { return u.GetChildNodes(Handle(), o.nodes); }, Form::kList},
        {"GetChildNodeCount",
         [](CXMLUtil& u, Outputs& o) { return u.GetChildNodeCount(Handle(), o.count); }},
        {"GetChildNode",
         [](CXMLUtil& u, Outputs& o) {
             // The handle it returns goes to the node output; the result is
             // what was recorded.
             o.handle = u.GetChildNode(Handle(), L"s");
             return CXMLUtilTestAccess::RecordedResult(u);
         },
         Form::kHandle},
        {"GetChildNodeValue",
         [](CXMLUtil& u, Outputs& o) { return u.GetChildNodeValue(Handle(), L"s", o.text); }},
        {"SetChildNodeVaule",
         [](CXMLUtil& u, Outputs&) { return u.SetChildNodeVaule(Handle(), L"s", L"new"); }},
        {"GetNodeAttr",
         [](CXMLUtil& u, Outputs& o) { return u.GetNodeAttr(Handle(), L"a", o.text); }},
        {"SetNodeAttr", [](CXMLUtil& u, Outputs&) { return u.SetNodeAttr(Handle(), L"a", L"2"); }},
        {"GetNodeAttrs",
         [](CXMLUtil& u, Outputs& o) { return u.GetNodeAttrs(Handle(), o.names, o.values); }},
        {"SetNodeAttrs",
         [](CXMLUtil& u, Outputs& o) { return u.SetNodeAttrs(Handle(), o.names, o.values); }},
        {"SetNodeAttrs with empty lists",
         [](CXMLUtil& u, Outputs&) {
             std::vector<std::wstring> none;
             return u.SetNodeAttrs(Handle(), none, none);
         }},
        {"RemoveChild(empty, child)",
         [](CXMLUtil& u, Outputs& o) { return u.RemoveChild(Handle(), o.handle); }},
        {"RemoveChild(parent, empty)",
         [](CXMLUtil& u, Outputs& o) { return u.RemoveChild(o.nodes.front(), Handle()); }},
        {"RemoveNode", [](CXMLUtil& u, Outputs&) { return u.RemoveNode(Handle()); }},
        {"RemoveAllChild", [](CXMLUtil& u, Outputs&) { return u.RemoveAllChild(Handle()); }},
        {"AddIDToNode", [](CXMLUtil& u, Outputs&) { return u.AddIDToNode(Handle()); }},
    };
    ExpectNothingChanges(forms, E_POINTER);
}

}  // namespace
