// SPDX-License-Identifier: MIT
// Attributes: reading one by its name without prefix, writing one by its
// qualified name, and reading or writing them all as parallel lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_dom.h"
#include "support/private_access.h"
#include "support/scripted_dom.h"
#include "support/test_util.h"

namespace {

using xmlutil::test::XmlTest;
using Strings = std::vector<std::wstring>;

HRESULT Recorded(const CXMLUtil& util) {
    return CXMLUtilTestAccess::RecordedResult(util);
}

class AttributesTest : public XmlTest {
  protected:
    // The attributes of the first node the path selects, as "name=value" items.
    Strings Pairs(const wchar_t* xpath) {
        Strings names, values;
        EXPECT_HR(util.GetNodeAttrs(std::wstring(xpath), names, values), S_OK);
        EXPECT_EQ(names.size(), values.size());
        Strings pairs;
        for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
            pairs.push_back(names[i] + L"=" + values[i]);
        }
        return pairs;
    }
    std::wstring Xml() {
        std::wstring xml;
        EXPECT_HR(util.GetXML(xml), S_OK);
        return xml;
    }
};

// ---- reading one attribute ------------------------------------------------

TEST_F(AttributesTest, ReadsByNameAndAbsentReadsLikeEmpty) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><e a='1' b='2' empty='' ID='upper' id='lower'/></r>"));
    const CComPtr<IXMLDOMNode> e = Node(L"/r/e");
    std::wstring value;
    EXPECT_HR(util.GetNodeAttr(e, L"b", value), S_OK);
    EXPECT_EQ(value, L"2");
    EXPECT_HR(util.GetNodeAttr(e, L"ID", value), S_OK);
    EXPECT_EQ(value, L"upper");
    EXPECT_HR(util.GetNodeAttr(std::wstring(L"/r/e"), L"id", value), S_OK);
    EXPECT_EQ(value, L"lower");

    for (const wchar_t* name : {L"empty", L"c", L"B", L""}) {
        value = L"stale";
        EXPECT_HR(util.GetNodeAttr(e, name, value), S_OK) << name;
        EXPECT_EQ(value, L"") << name;
        EXPECT_EQ(util.IsError(), 0);
    }
}

TEST_F(AttributesTest, ReadingMatchesBaseNamesFirstInMapOrder) {
    ASSERT_NO_FATAL_FAILURE(
        Load(L"<r xmlns:p='urn:p' xmlns:q='urn:q'><e p:lang='x' q:a='first' p:a='second'/></r>"));
    const CComPtr<IXMLDOMNode> e = Node(L"/r/e");
    std::wstring value;
    EXPECT_HR(util.GetNodeAttr(e, L"lang", value), S_OK);
    EXPECT_EQ(value, L"x");
    EXPECT_HR(util.GetNodeAttr(e, L"p:lang", value), S_OK);
    EXPECT_EQ(value, L"") << "the qualified name is not what reading compares";
    EXPECT_HR(util.GetNodeAttr(e, L"a", value), S_OK);
    EXPECT_EQ(value, L"first");
}

TEST_F(AttributesTest, NodeWithoutAttributeMapAnswersFalseAndKeepsOutputs) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><e a='1'>text</e></r>"));
    const CComPtr<IXMLDOMNode> text = Node(L"/r/e/text()");
    const std::wstring before = Xml();

    std::wstring value = L"kept";
    EXPECT_HR(util.GetNodeAttr(text, L"a", value), S_FALSE);
    EXPECT_EQ(value, L"kept");
    EXPECT_EQ(util.IsError(), 1);

    Strings names{L"n"}, values{L"v"};
    EXPECT_HR(util.GetNodeAttrs(text, names, values), S_FALSE);
    EXPECT_EQ(names, Strings{L"n"});
    EXPECT_EQ(values, Strings{L"v"});

    EXPECT_HR(util.SetNodeAttr(text, L"a", L"2"), S_FALSE);
    EXPECT_HR(util.SetNodeAttrs(text, names, values), S_FALSE);
    EXPECT_EQ(Xml(), before);
}

// ---- reading all attributes -----------------------------------------------

TEST_F(AttributesTest, ListsAreParallelInMapOrderAndReplaced) {
    ASSERT_NO_FATAL_FAILURE(
        Load(L"<r xmlns:p='urn:p'><e a='1' b='2' p:x='3' c='&lt;4&gt;'/><bare/></r>"));
    EXPECT_EQ(Pairs(L"/r/e"), (Strings{L"a=1", L"b=2", L"x=3", L"c=<4>"}));

    Strings names{L"old"}, values{L"old", L"older"};
    EXPECT_HR(util.GetNodeAttrs(Node(L"/r/bare"), names, values), S_OK);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(values.empty());
}

// ---- writing one attribute ------------------------------------------------

TEST_F(AttributesTest, WritingTwiceLeavesOneAttributeWithTheLaterValue) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><e/></r>"));
    const CComPtr<IXMLDOMNode> e = Node(L"/r/e");
    EXPECT_HR(util.SetNodeAttr(e, L"k", L"v"), S_OK);
    EXPECT_HR(util.SetNodeAttr(std::wstring(L"/r/e"), L"k", L"w & <more> \"q\""), S_OK);
    EXPECT_HR(util.SetNodeAttr(e, L"K", L"upper"), S_OK);
    EXPECT_EQ(Pairs(L"/r/e"), (Strings{L"k=w & <more> \"q\"", L"K=upper"}));
}

TEST_F(AttributesTest, PrefixedNamesNeedANamespaceInScope) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r xmlns:p='urn:p'><e/></r>"));
    const CComPtr<IXMLDOMNode> e = Node(L"/r/e");
    const std::wstring before = Xml();
    EXPECT_HR(util.SetNodeAttr(e, L"zz:a", L"v"), E_INVALIDARG);
    EXPECT_HR(Recorded(util), E_INVALIDARG);
    EXPECT_EQ(Xml(), before) << "nothing is added for an undeclared prefix";

    EXPECT_HR(util.SetNodeAttr(e, L"p:a", L"declared above"), S_OK);
    EXPECT_HR(util.SetNodeAttr(e, L"xml:lang", L"en"), S_OK);
    std::wstring value;
    EXPECT_HR(util.GetNodeAttr(e, L"a", value), S_OK);
    EXPECT_EQ(value, L"declared above");
    EXPECT_HR(util.GetNodeAttr(e, L"lang", value), S_OK);
    EXPECT_EQ(value, L"en");

    // What was written must load again.
    CXMLUtil reloaded;
    EXPECT_HR(reloaded.LoadXML(Xml().c_str()), S_OK);
}

// Every element and attribute with its namespace, in document order.
Strings Namespaces(CXMLUtil& doc) {
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    EXPECT_HR(doc.GetNodes(L"//* | //@*", nodes), S_OK);
    Strings out;
    for (const CComPtr<IXMLDOMNode>& node : nodes) {
        BSTR name = nullptr;
        BSTR uri = nullptr;
        EXPECT_HR(node->get_nodeName(&name), S_OK);
        EXPECT_HR(node->get_namespaceURI(&uri), S_OK);
        out.push_back(std::wstring(name ? name : L"") + L" in " + (uri ? uri : L""));
        SysFreeString(name);
        SysFreeString(uri);
    }
    return out;
}

// A namespace declaration written as an attribute may not move the element
// or anything under it into another namespace once the markup is read back:
// such a write is refused and changes nothing; any other is kept.
TEST_F(AttributesTest, DeclarationsThatWouldMoveNodesToAnotherNamespaceAreRefused) {
    struct Write {
        const wchar_t* xml;
        const wchar_t* path;
        const wchar_t* name;
        const wchar_t* value;
        bool accepted;
    };
    const wchar_t* kPrefixed =
        L"<r xmlns:p='urn:p'><e p:x='1'><p:c/></e><f/><g xmlns:p='urn:g'/></r>";
    const wchar_t* kDefault = L"<r xmlns='urn:d'><k a='1'/></r>";
    const wchar_t* kUndeclared = L"<r xmlns='urn:A'><e xmlns=''><c/></e></r>";
    const wchar_t* kCovered = L"<p:e xmlns:p='urn:P'><c xmlns=''/></p:e>";
    const wchar_t* kCoveredAtTop = L"<p:e xmlns:p='urn:P' xmlns=''><c/></p:e>";
    const Write writes[] = {
        {kPrefixed, L"/r/e", L"xmlns:p", L"urn:other", false},    // its attribute and child use p
        {kPrefixed, L"/r/e/*", L"xmlns:p", L"urn:other", false},  // the element itself
        {kPrefixed, L"/r/e", L"xmlns:p", L"urn:p", true},         // the same binding again
        {kPrefixed, L"/r/f", L"xmlns:p", L"urn:new", true},       // nothing under f uses p
        {kPrefixed, L"/r/f", L"xmlns", L"urn:D", false},          // f is in no namespace
        {kPrefixed, L"/r/f", L"xmlns", L"", true},
        {kPrefixed, L"/r", L"xmlns:q", L"urn:q", true},
        {kDefault, L"/*/*", L"xmlns", L"", false},  // k is in urn:d from its parent
        {kDefault, L"/*/*", L"xmlns", L"urn:e", false},
        {kDefault, L"/*/*", L"xmlns", L"urn:d", true},
        {kDefault, L"/*/*", L"xmlns:a", L"urn:a", true},  // unprefixed attributes stay put
        // xmlns="" keeps e and c out of urn:A: changing it would move them.
        {kUndeclared, L"/*/*", L"xmlns", L"urn:A", false},
        {kUndeclared, L"/*/*", L"xmlns", L"urn:B", false},
        // c's own xmlns="" covers it; only e's default changes.
        {kCovered, L"/*", L"xmlns", L"urn:B", true},
        {kCoveredAtTop, L"/*", L"xmlns", L"urn:B", false},
    };
    for (const Write& w : writes) {
        SCOPED_TRACE(testing::Message()
                     << w.xml << " " << w.path << " " << w.name << "=" << w.value);
        CXMLUtil doc;
        ASSERT_HR(doc.LoadXML(w.xml), S_OK);
        CComPtr<IXMLDOMNode> target;
        ASSERT_HR(doc.GetSingleNode(w.path, target), S_OK);
        const std::wstring before = [&] {
            std::wstring xml;
            EXPECT_HR(doc.GetXML(xml), S_OK);
            return xml;
        }();
        const Strings inMemory = Namespaces(doc);
        const long hr = doc.SetNodeAttr(target, w.name, w.value);
        EXPECT_HR(Recorded(doc), hr);
        std::wstring after;
        ASSERT_HR(doc.GetXML(after), S_OK);
        if (w.accepted) {
            EXPECT_HR(hr, S_OK);
        } else {
            EXPECT_TRUE(FAILED(hr));
            EXPECT_EQ(after, before);
        }
        EXPECT_EQ(Namespaces(doc), inMemory);
        CXMLUtil reloaded;
        ASSERT_HR(reloaded.LoadXML(after.c_str()), S_OK);
        EXPECT_EQ(Namespaces(reloaded), inMemory) << after;
    }
}

// Removing xmlns="" would let the default declared above take the elements
// it kept out of any namespace: refused. Where none is declared above, or
// nothing relies on it, it goes.
TEST_F(AttributesTest, RemovingAnEmptyDefaultThatKeepsElementsOutIsRefused) {
    struct Removal {
        const wchar_t* xml;
        bool removed;
    };
    for (const Removal& r :
         {Removal{L"<r xmlns='urn:A'><e xmlns=''><c/></e></r>", false},
          Removal{L"<r><e xmlns=''><c/></e></r>", true},
          Removal{L"<r xmlns='urn:A'><e xmlns=''><c xmlns='urn:C'/></e></r>", false},
          Removal{L"<r xmlns='urn:A'><p:e xmlns:p='urn:P' xmlns=''>"
                  L"<p:c/></p:e></r>",
                  true}}) {
        SCOPED_TRACE(testing::Message() << r.xml);
        CXMLUtil doc;
        ASSERT_HR(doc.LoadXML(r.xml), S_OK);
        CComPtr<IXMLDOMNode> e;
        ASSERT_HR(doc.GetSingleNode(L"/*/*", e), S_OK);
        CComPtr<IXMLDOMElement> element;
        ASSERT_HR(e->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element)), S_OK);
        const Strings inMemory = Namespaces(doc);
        BSTR name = SysAllocString(L"xmlns");
        const HRESULT hr = element->removeAttribute(name);
        SysFreeString(name);
        EXPECT_EQ(SUCCEEDED(hr), r.removed) << std::hex << hr;
        std::wstring after;
        ASSERT_HR(doc.GetXML(after), S_OK);
        CXMLUtil reloaded;
        ASSERT_HR(reloaded.LoadXML(after.c_str()), S_OK);
        EXPECT_EQ(Namespaces(reloaded), inMemory) << after;
    }
}

TEST_F(AttributesTest, ValueOrNameXmlCannotHoldIsRefusedAndNothingChanges) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><e k='old'/></r>"));
    const CComPtr<IXMLDOMNode> e = Node(L"/r/e");
    const std::wstring before = Xml();
    EXPECT_HR(util.SetNodeAttr(e, L"k", std::wstring(L"\u001F")), E_INVALIDARG);
    EXPECT_HR(util.SetNodeAttr(e, L"n", std::wstring(1, static_cast<wchar_t>(0xDC00))),
              E_INVALIDARG);
    EXPECT_HR(util.SetNodeAttr(std::wstring(L"/r/e"), L"k", std::wstring(L"\uFFFF")), E_INVALIDARG);
    EXPECT_LT(util.SetNodeAttr(e, L"1bad", L"v"), 0) << "not a name";
    EXPECT_LT(util.SetNodeAttr(e, L"", L"v"), 0) << "not a name";
    EXPECT_EQ(Xml(), before);
}

TEST_F(AttributesTest, WritesANodeOfAnotherDocument) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r/>"));
    CXMLUtil other;
    ASSERT_HR(other.LoadXML(L"<o/>"), S_OK);
    CComPtr<IXMLDOMNode> foreign;
    ASSERT_HR(other.GetSingleNode(L"/o", foreign), S_OK);
    EXPECT_HR(util.SetNodeAttr(foreign, L"k", L"v"), S_OK);
    std::wstring value;
    EXPECT_HR(other.GetNodeAttr(std::wstring(L"/o"), L"k", value), S_OK);
    EXPECT_EQ(value, L"v");
}

TEST_F(AttributesTest, ObjectWithoutDocumentRefusesToWrite) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r/>"));
    CXMLUtil empty{CComPtr<IXMLDOMDocument>()};
    EXPECT_HR(empty.SetNodeAttr(Node(L"/r"), L"k", L"v"), E_POINTER);
    EXPECT_HR(Recorded(empty), E_POINTER);
    EXPECT_EQ(Pairs(L"/r"), Strings{});
}

// ---- writing lists --------------------------------------------------------

TEST_F(AttributesTest, ListsOfDifferentLengthsWriteNothing) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r/>"));
    const CComPtr<IXMLDOMNode> r = Node(L"/r");
    Strings three{L"a", L"b", L"c"}, two{L"1", L"2"}, none;
    EXPECT_HR(util.SetNodeAttrs(r, three, two), S_FALSE);
    EXPECT_HR(util.SetNodeAttrs(std::wstring(L"/r"), none, two), S_FALSE);
    EXPECT_HR(util.SetNodeAttrs(r, three, none), S_FALSE);
    EXPECT_HR(Recorded(util), S_FALSE);
    EXPECT_EQ(Pairs(L"/r"), Strings{});
}

TEST_F(AttributesTest, ListsAreWrittenInOrderUpToTheFirstRefusal) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r/>"));
    Strings names{L"a", L"b", L"a"}, values{L"1", L"2", L"3"};
    EXPECT_HR(util.SetNodeAttrs(Node(L"/r"), names, values), S_OK);
    EXPECT_EQ(Pairs(L"/r"), (Strings{L"a=3", L"b=2"}));

    Strings refusedSecond{L"x", L"y", L"z"}, refusedValues{L"1", L"bad\u0002", L"3"};
    EXPECT_HR(util.SetNodeAttrs(std::wstring(L"/r"), refusedSecond, refusedValues), E_INVALIDARG);
    EXPECT_HR(Recorded(util), E_INVALIDARG);
    EXPECT_EQ(Pairs(L"/r"), (Strings{L"a=3", L"b=2", L"x=1"})) << "z is never tried";
}

// Names the loader reads (XML 1.0 fifth edition) are written back: the
// lists GetNodeAttrs reads go onto another element, and CreateNode takes them.
TEST_F(AttributesTest, EveryNameTheLoaderReadsIsWrittenBack) {
    ASSERT_NO_FATAL_FAILURE(
        Load(L"<r><from \U00010000a='1' \uF900='2' \uFFFD\U000EFFFF='3'/><to/></r>"));
    Strings names, values;
    ASSERT_HR(util.GetNodeAttrs(std::wstring(L"/r/from"), names, values), S_OK);
    EXPECT_HR(util.SetNodeAttrs(std::wstring(L"/r/to"), names, values), S_OK);
    EXPECT_EQ(Pairs(L"/r/to"), Pairs(L"/r/from"));
    EXPECT_NE(util.CreateNode(L"\U00010000", L""), nullptr);
}

TEST_F(AttributesTest, TwoEmptyListsSucceedInBothForms) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r k='v'/>"));
    Strings none;
    for (int form = 0; form < 2; ++form) {
        std::wstring ignored;
        util.GetNodeValue(std::wstring(L"/missing"), ignored);  // leaves S_FALSE recorded
        ASSERT_EQ(util.IsError(), 1);
        const long hr = form == 0 ? util.SetNodeAttrs(Node(L"/r"), none, none)
                                  : util.SetNodeAttrs(std::wstring(L"/r"), none, none);
        EXPECT_HR(hr, S_OK) << form;
        EXPECT_EQ(util.IsError(), 0);
    }
    EXPECT_EQ(Pairs(L"/r"), Strings{L"k=v"});
}

// ---- the service's own maps against reading item by item -------------------

// A real attribute map that answers only the plain interface, so the members
// read it item by item as they would a map of another implementation.
class ItemByItemMap : public fake_dom::Counted<IXMLDOMNamedNodeMap> {
  public:
    explicit ItemByItemMap(IXMLDOMNamedNodeMap* real) : real_(real) {}
    HRESULT getNamedItem(BSTR name, IXMLDOMNode** item) override {
        return real_->getNamedItem(name, item);
    }
    HRESULT setNamedItem(IXMLDOMNode* in, IXMLDOMNode** out) override {
        return real_->setNamedItem(in, out);
    }
    HRESULT removeNamedItem(BSTR name, IXMLDOMNode** item) override {
        return real_->removeNamedItem(name, item);
    }
    HRESULT get_item(long index, IXMLDOMNode** item) override {
        return real_->get_item(index, item);
    }
    HRESULT get_length(long* length) override { return real_->get_length(length); }

  private:
    CComPtr<IXMLDOMNamedNodeMap> real_;
};

TEST_F(AttributesTest, ServiceMapsAnswerAsReadingItemByItemDoes) {
    ASSERT_NO_FATAL_FAILURE(
        Load(L"<r xmlns='urn:d' xmlns:p='urn:p'><e xmlns:q='urn:q' a='1' "
             L"p:b='&amp;&#x4E2D;&#x20000;&lt;' q:a='x' c='' d='  spaced  '/></r>"));
    CComPtr<IXMLDOMNode> e = Node(L"//*[local-name()='e']");
    ASSERT_TRUE(e);
    // An attribute without any child node.
    CComPtr<IXMLDOMDocument> doc = util.GetDomDocument();
    CComPtr<IXMLDOMAttribute> bare;
    BSTR bareName = SysAllocString(L"bare");
    ASSERT_EQ(doc->createAttribute(bareName, &bare), S_OK);
    SysFreeString(bareName);
    CComPtr<IXMLDOMNamedNodeMap> real;
    ASSERT_EQ(e->get_attributes(&real), S_OK);
    ASSERT_EQ(real->setNamedItem(bare, nullptr), S_OK);

    ItemByItemMap itemByItem(real);
    fake_dom::Node plain;
    plain.attributes = &itemByItem;
    Strings names, values, plainNames, plainValues;
    EXPECT_HR(util.GetNodeAttrs(e, names, values), S_OK);
    EXPECT_HR(util.GetNodeAttrs(&plain, plainNames, plainValues), S_OK);
    EXPECT_EQ(names, plainNames);
    EXPECT_EQ(values, plainValues);
    EXPECT_EQ(names, (Strings{L"q", L"a", L"b", L"a", L"c", L"d", L"bare"}));
    EXPECT_EQ(values[2], std::wstring(L"&\x4E2D\U00020000<"));

    for (const std::wstring& name :
         {std::wstring(L"a"), std::wstring(L"b"), std::wstring(L"q"), std::wstring(L"xmlns"),
          std::wstring(L"p"), std::wstring(L"c"), std::wstring(L"bare"), std::wstring(L"missing"),
          std::wstring(L""), std::wstring(L"a\0b", 3), std::wstring(L"\xFFFE")}) {
        std::wstring value = L"stale";
        std::wstring plainValue = L"stale";
        EXPECT_HR(util.GetNodeAttr(e, name, value), S_OK);
        EXPECT_HR(util.GetNodeAttr(&plain, name, plainValue), S_OK);
        EXPECT_EQ(value, plainValue) << name;
    }
}

// A real document that answers only the plain interface for the one call
// SetNodeAttr makes of it, so the member takes its four-call way.
class PlainDocument : public xmlutil::test::ScriptedDocument {
  public:
    explicit PlainDocument(IXMLDOMDocument* real) : real_(real) {}
    HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) override {
        return real_->createAttribute(name, attribute);
    }

  private:
    CComPtr<IXMLDOMDocument> real_;
};

TEST(AttributeWrites, OneStepWritesEqualTheFourCallWay) {
    const wchar_t* xml =
        L"<r xmlns:p='urn:p'><e a='old' p:b='1'>t</e><f xmlns='urn:d'/><g><h/></g></r>";
    struct Write {
        const wchar_t* path;
        std::wstring name;
        std::wstring value;
    };
    const std::vector<Write> writes = {
        {L"//e", L"a", L"new"},
        {L"//e", L"c", L"added"},
        {L"//e", L"p:b", L"2"},
        {L"//e", L"p:c", L"3"},
        {L"//e", L"q:c", L"unbound"},
        {L"//e", L"xmlns:q", L"urn:q"},
        {L"//e", L"q:c", L"bound now"},
        {L"//e", L"xmlns", L"urn:x"},
        {L"//e", L"xmlns:", L"bad"},
        {L"//e", L"1x", L"bad name"},
        {L"//e", L"", L"empty name"},
        {L"//e", L"a b", L"space"},
        {L"//e", L"v", L"bad\x01value"},
        {L"//e", L"w", std::wstring(L"nul\0cut", 7)},
        {L"//e/text()", L"a", L"text"},
        {L"//e/@a", L"a", L"attribute"},
        {L"//*[local-name()='f']", L"a", L"&<>\"'\x4E2D"},
        {L"//h", L"xmlns:p", L"urn:other"},
        {L"//g", L"xmlns:p", L"urn:p2"},
    };
    CXMLUtil fastHolder;
    ASSERT_HR(fastHolder.LoadXML(xml), S_OK);
    CXMLUtil plainHolder;
    ASSERT_HR(plainHolder.LoadXML(xml), S_OK);
    PlainDocument plainDoc(plainHolder.GetDomDocument());
    CXMLUtil fast(fastHolder.GetDomDocument());
    CXMLUtil plain{CComPtr<IXMLDOMDocument>(&plainDoc)};
    // A handle on the attribute the first write replaces.
    CComPtr<IXMLDOMNode> fastOld, plainOld;
    ASSERT_HR(fastHolder.GetSingleNode(L"//e/@a", fastOld), S_OK);
    ASSERT_HR(plainHolder.GetSingleNode(L"//e/@a", plainOld), S_OK);
    for (const Write& w : writes) {
        CComPtr<IXMLDOMNode> fastNode, plainNode;
        ASSERT_HR(fastHolder.GetSingleNode(w.path, fastNode), S_OK) << w.path;
        ASSERT_HR(plainHolder.GetSingleNode(w.path, plainNode), S_OK) << w.path;
        const long fastHr = fast.SetNodeAttr(fastNode, w.name, w.value);
        const long plainHr = plain.SetNodeAttr(plainNode, w.name, w.value);
        EXPECT_HR(fastHr, plainHr) << w.path << " " << w.name;
        EXPECT_EQ(fast.IsError(), plain.IsError()) << w.name;
        std::wstring fastXml, plainXml;
        ASSERT_HR(fastHolder.GetXML(fastXml), S_OK);
        ASSERT_HR(plainHolder.GetXML(plainXml), S_OK);
        EXPECT_EQ(fastXml, plainXml) << "after " << w.path << " " << w.name;
    }
    std::wstring fastValue, plainValue;
    EXPECT_HR(fastHolder.GetNodeValue(fastOld, fastValue),
              plainHolder.GetNodeValue(plainOld, plainValue));
    EXPECT_EQ(fastValue, plainValue);
    EXPECT_EQ(fastValue, L"old") << "the replaced attribute keeps its value";
    // A node of another document gets the attribute made by this one.
    CXMLUtil other;
    ASSERT_HR(other.LoadXML(L"<o/>"), S_OK);
    CComPtr<IXMLDOMNode> foreign;
    ASSERT_HR(other.GetSingleNode(L"/o", foreign), S_OK);
    EXPECT_HR(fast.SetNodeAttr(foreign, L"k", L"v"), S_OK);
    std::wstring otherXml;
    ASSERT_HR(other.GetXML(otherXml), S_OK);
    EXPECT_NE(otherXml.find(L"<o k=\"v\"/>"), std::wstring::npos) << otherXml;
}

// ---- answers a real document never gives ----------------------------------

TEST_F(AttributesTest, UnreadableAttributesAreLeftOutOfBothLists) {
    fake_dom::Node ok1, noName, noText, ok2, nullStrings;
    ok1.baseName = L"a";
    ok1.text = L"1";
    noName.baseNameResult = E_FAIL;
    noText.baseName = L"n";
    noText.textResult = E_OUTOFMEMORY;
    ok2.baseName = L"b";
    ok2.text = L"2";
    nullStrings.baseName = nullptr;
    nullStrings.text = nullptr;
    fake_dom::Map map;
    map.items = {&ok1, &noName, &ok2, &noText, &ok1, &nullStrings};
    map.failing = {4};
    fake_dom::Node element;
    element.attributes = &map;

    Strings names, values;
    EXPECT_HR(util.GetNodeAttrs(&element, names, values), S_OK);
    EXPECT_EQ(names, (Strings{L"a", L"b", L""}));
    EXPECT_EQ(values, (Strings{L"1", L"2", L""}));
    std::wstring value = L"stale";
    EXPECT_HR(util.GetNodeAttr(&element, L"n", value), S_OK) << "skipped reads as absent";
    EXPECT_EQ(value, L"");
    // Past an attribute whose text cannot be read, a later one of the same
    // base name is the answer, as in the lists.
    fake_dom::Node laterN;
    laterN.baseName = L"n";
    laterN.text = L"later";
    map.items.push_back(&laterN);
    EXPECT_HR(util.GetNodeAttr(&element, L"n", value), S_OK);
    EXPECT_EQ(value, L"later");
    map.items.pop_back();

    map.lengthResult = E_FAIL;
    EXPECT_HR(util.GetNodeAttrs(&element, names, values), E_FAIL);
    EXPECT_EQ(names.size(), 3u) << "lists kept when the length cannot be had";
    EXPECT_EQ(
        map.refs() + ok1.refs() + noName.refs() + noText.refs() + laterN.refs() + element.refs(),
        0);
}

}  // namespace
