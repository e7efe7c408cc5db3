// SPDX-License-Identifier: MIT
#include "commands.h"

#include <xmlutil/XMLUtil.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "create_file.h"
#include "layout.h"
#include "results.h"
#include "session.h"
#include "text.h"
#include "xpath_values.h"

namespace xmlutil::tool {
namespace {

const char* NodeTypeName(DOMNodeType type) {
    switch (type) {
        case NODE_ELEMENT:
            return "element";
        case NODE_ATTRIBUTE:
            return "attribute";
        case NODE_TEXT:
            return "text";
        case NODE_CDATA_SECTION:
            return "cdata";
        case NODE_ENTITY_REFERENCE:
            return "entity-reference";
        case NODE_ENTITY:
            return "entity";
        case NODE_PROCESSING_INSTRUCTION:
            return "processing-instruction";
        case NODE_COMMENT:
            return "comment";
        case NODE_DOCUMENT:
            return "document";
        case NODE_DOCUMENT_TYPE:
            return "document-type";
        case NODE_DOCUMENT_FRAGMENT:
            return "document-fragment";
        case NODE_NOTATION:
            return "notation";
        case NODE_INVALID:
            break;
    }
    return "unknown";
}

// Node types whose DOM name is their own ("#text", "#comment" say nothing
// the type does not).
bool HasOwnName(DOMNodeType type) {
    return type == NODE_ELEMENT || type == NODE_ATTRIBUTE || type == NODE_PROCESSING_INSTRUCTION ||
           type == NODE_ENTITY_REFERENCE || type == NODE_ENTITY || type == NODE_DOCUMENT_TYPE ||
           type == NODE_NOTATION;
}

// "element<TAB>Item", "text", "processing-instruction<TAB>xml", ...
std::string DescribeChild(IXMLDOMNode* child) {
    DOMNodeType type = NODE_INVALID;
    if (child->get_nodeType(&type) != S_OK) type = NODE_INVALID;
    std::string line = NodeTypeName(type);
    OwnedBstr name;
    if (HasOwnName(type) && child->get_nodeName(name.Slot()) == S_OK) {
        line += '\t';
        line += Utf8FromWide(name.View());
    }
    return line;
}

// Printed markup is UTF-8 whatever the file's encoding, so a declaration at
// its start must name UTF-8: saved from the terminal, it then loads as it reads.
// The DOM writes the declaration of its Unicode text without an encoding:
// one naming UTF-8 is added after the version.
void DeclareUtf8(std::wstring& xml) {
    if (xml.compare(0, 6, L"<?xml ") != 0) return;
    const size_t end = xml.find(L"?>");
    const size_t name = xml.find(L"encoding", 6);
    if (end == std::wstring::npos) return;
    if (name == std::wstring::npos || name > end) {
        const size_t version = xml.find_first_of(L"\"'", 6);
        const size_t versionEnd =
            version == std::wstring::npos ? version : xml.find(xml[version], version + 1);
        if (versionEnd != std::wstring::npos && versionEnd < end) {
            xml.insert(versionEnd + 1, L" encoding=\"UTF-8\"");
        }
        return;
    }
    const size_t open = xml.find_first_of(L"\"'", name);
    if (open == std::wstring::npos || open > end) return;
    const size_t close = xml.find(xml[open], open + 1);
    if (close == std::wstring::npos || close > end) return;
    xml.replace(open + 1, close - open - 1, L"UTF-8");
}

DOMNodeType TypeOf(const NodePtr& node) {
    DOMNodeType type = NODE_INVALID;
    if (node->get_nodeType(&type) != S_OK) type = NODE_INVALID;
    return type;
}

// ---- queries -----------------------------------------------------------------

// The first node XPATH selects; for an expression that yields a number, a
// string or a boolean (count(//a), string(@b), //a = 'x'), its value.
void RunGet(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::string& xpath = run.Operand(1);
    NodePtr node;
    const HRESULT hr = doc.GetSingleNode(run.Wide(run.File(), xpath), node);
    if (hr == S_FALSE) run.NoMatch(run.File(), xpath);
    if (FAILED(hr)) {
        std::wstring value;
        const HRESULT evaluated = EvaluateToText(doc, run.Wide(run.File(), xpath), value);
        if (evaluated != S_OK) run.Fail(run.File(), EvaluationFailure(xpath), evaluated);
        return out.Line(value);
    }
    run.Require(run.File(), "cannot evaluate " + xpath, hr);
    std::wstring value;
    run.Require(run.File(), "GetNodeValue failed", doc.GetNodeValue(node, value));
    out.Line(value);
}

void RunValues(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::string& file = run.File();
    std::vector<std::wstring> values;
    const HRESULT hr = doc.GetNodeValues(run.Wide(file, run.Operand(1)), values);
    if (FAILED(hr)) run.Fail(file, EvaluationFailure(run.Operand(1)), hr);
    if (values.empty()) run.NoMatch(file, run.Operand(1));
    run.Require(file, "GetNodeValues failed", hr);
    for (const std::wstring& value : values) out.Line(value);
}

void RunCount(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::string& file = run.File();
    long count = 0;
    const HRESULT hr = doc.GetNodesCount(run.Wide(file, run.Operand(1)), count);
    if (hr != S_OK) run.Fail(file, EvaluationFailure(run.Operand(1)), hr);
    out.Line(std::to_string(count));
    // Like `grep -c`: the count is printed, and none found is still status 1.
    if (count == 0) run.NoMatch(file, run.Operand(1));
}

// The markup of the node (the document for an empty handle), as one record.
void PrintMarkup(const Run& run, Document& doc, const NodePtr& node, Output& out) {
    std::wstring xml;
    run.Require(run.File(), "GetXML failed", doc.GetXML(xml, node));
    if (!node || TypeOf(node) == NODE_DOCUMENT) DeclareUtf8(xml);
    while (!xml.empty() && (xml.back() == L'\n' || xml.back() == L'\r')) xml.pop_back();
    out.Line(xml);
}

void RunXml(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    if (!run.HasOperand(1)) return PrintMarkup(run, doc, NodePtr(), out);
    for (const NodePtr& node : SelectTargets(run, doc, run.Operand(1))) {
        PrintMarkup(run, doc, node, out);
    }
}

void RunChildren(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const NodePtr node = SelectNode(run, doc, run.Operand(1));
    std::vector<NodePtr> children;
    run.Require(run.File(), "GetChildNodes failed", doc.GetChildNodes(node, children));
    for (const NodePtr& child : children) {
        if (child) out.Line(DescribeChild(child));
    }
}

void RunAttr(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const NodePtr node = SelectNode(run, doc, run.Operand(1));
    std::wstring value;
    run.Require(run.File(), "GetNodeAttr failed",
                doc.GetNodeAttr(node, run.Wide(run.File(), run.Operand(2)), value));
    out.Line(value);
}

void RunAttrs(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const NodePtr node = SelectNode(run, doc, run.Operand(1));
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    run.Require(run.File(), "GetNodeAttrs failed", doc.GetNodeAttrs(node, names, values));
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
        out.Line(names[i] + L"=" + values[i]);
    }
}

// Well-formedness only: the message of a file that does not load, nothing
// for one that does.
void RunCheck(const Invocation& invocation, Output&) {
    const Run run(invocation);
    LoadFile(run, KeptDocument());
}

// ---- edits -------------------------------------------------------------------

void RunSet(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::wstring text = run.Wide(run.File(), run.Operand(2));
    const std::vector<NodePtr> nodes = SelectTargets(run, doc, run.Operand(1));
    for (const NodePtr& node : nodes) {
        run.Require(run.File(), "SetNodeValue failed", doc.SetNodeValue(node, text));
    }
    SaveDocument(run, doc);
    ReportChanged(run, nodes.size());
}

void RunSetAttr(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::string& file = run.File();
    const std::wstring name = run.Wide(file, run.Operand(2));
    const std::wstring value = run.Wide(file, run.Operand(3));
    const std::vector<NodePtr> nodes = SelectTargets(run, doc, run.Operand(1));
    for (const NodePtr& node : nodes) {
        run.Require(file, "SetNodeAttr failed", doc.SetNodeAttr(node, name, value));
    }
    SaveDocument(run, doc);
    ReportChanged(run, nodes.size());
}

// The library prints a line on standard output when it cannot make or place
// an element; asking the document first keeps standard output for results.
void RequireAppendable(const Run& run, Document& doc, const std::wstring& name,
                       const std::vector<NodePtr>& parents) {
    CComPtr<IXMLDOMElement> probe;
    const HRESULT made = doc.GetDomDocument()->createElement(OwnedBstr(name).Get(), &probe);
    if (made != S_OK) run.Fail(run.File(), "not a valid element name: " + run.Operand(2), made);
    for (const NodePtr& parent : parents) {
        if (TypeOf(parent) != NODE_ELEMENT) {
            run.Fail(run.File(),
                     std::string("cannot append under a node of type ") +
                         NodeTypeName(TypeOf(parent)) + " (only under an element)",
                     E_INVALIDARG);
        }
    }
}

void RunAppend(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::string& file = run.File();
    const std::wstring name = run.Wide(file, run.Operand(2));
    const std::wstring text = run.HasOperand(3) ? run.Wide(file, run.Operand(3)) : std::wstring();
    const std::vector<NodePtr> parents = SelectTargets(run, doc, run.Operand(1));
    RequireAppendable(run, doc, name, parents);
    for (const NodePtr& parent : parents) {
        const NodePtr added = doc.AppendChildNode(parent, name, text);
        if (!added) run.Fail(file, "AppendChildNode failed", doc.LastResult());
        // The element comes back even when its text could not be stored (text
        // XML cannot hold); the recorded result tells, and such an edit is not
        // saved.
        if (doc.IsError()) {
            run.Fail(file, "AppendChildNode could not store the text", doc.LastResult());
        }
    }
    SaveDocument(run, doc);
    ReportChanged(run, parents.size());
}

// An attribute has no parent node in the DOM: its element, which XPath's
// parent step reaches, removes it by name.
HRESULT RemoveAttribute(Document& doc, const NodePtr& attribute) {
    NodePtr owner;
    HRESULT hr = doc.GetSingleNode(L"..", owner, attribute);
    if (hr != S_OK) return hr;
    OwnedBstr name;
    hr = attribute->get_nodeName(name.Slot());
    if (hr != S_OK) return hr;
    CComPtr<IXMLDOMElement> element;
    hr = owner.QueryInterface(&element);
    if (hr != S_OK) return hr;
    return element->removeAttribute(name.Get());
}

void RunRemove(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::vector<NodePtr> nodes = SelectTargets(run, doc, run.Operand(1));
    for (const NodePtr& node : nodes) {
        if (TypeOf(node) == NODE_ATTRIBUTE) {
            run.Require(run.File(), "cannot remove the attribute", RemoveAttribute(doc, node));
        } else {
            run.Require(run.File(), "RemoveNode failed", doc.RemoveNode(node));
        }
    }
    SaveDocument(run, doc);
    ReportChanged(run, nodes.size());
}

void RunClear(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const std::vector<NodePtr> nodes = SelectTargets(run, doc, run.Operand(1));
    for (const NodePtr& node : nodes) {
        run.Require(run.File(), "RemoveAllChild failed", doc.RemoveAllChild(node));
    }
    SaveDocument(run, doc);
    ReportChanged(run, nodes.size());
}

// LoadMenuXml reports nothing, so the menu file is checked here first and the
// children counted before and after: a merge that lost entries is not saved.
// LoadMenuXml opens MENUFILE itself, so it must be a regular file: a pipe or
// FIFO would be read empty (or wait) the second time.
void RunMergeMenu(const Invocation& invocation, Output&) {
    const Run run(invocation);
    const std::string& file = run.File();
    const std::string& menuFile = run.Operand(2);
    std::error_code error;
    if (menuFile == "-" || !std::filesystem::is_regular_file(menuFile, error)) {
        if (menuFile == "-" || std::filesystem::exists(menuFile, error)) {
            run.Fail(menuFile, "the menu file must be a regular file (it is read by name)",
                     HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
        }
    }
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    Document& menu = KeptDocument();
    LoadFile(run, menu, menuFile);
    NodePtr menuNode;
    const HRESULT menuResult = menu.GetSingleNode(L"/Root/Menu", menuNode);
    if (menuResult != S_OK) run.Fail(menuFile, "has no /Root/Menu", menuResult);
    long entries = 0;
    run.Require(menuFile, "GetChildNodeCount failed", menu.GetChildNodeCount(menuNode, entries));

    NodePtr target = SelectNode(run, doc, run.Operand(1));
    long before = 0;
    run.Require(file, "GetChildNodeCount failed", doc.GetChildNodeCount(target, before));
    LoadMenuXml(target, run.Wide(menuFile, menuFile).c_str());
    long after = 0;
    run.Require(file, "GetChildNodeCount failed", doc.GetChildNodeCount(target, after));
    if (after - before != entries) {
        run.Fail(file,
                 "LoadMenuXml merged " + std::to_string(after - before) + " of " +
                     std::to_string(entries) + " menu entries, nothing written",
                 E_FAIL);
    }
    SaveDocument(run, doc);
}

// The document laid out anew: as the library saves it (indented by two
// spaces), with --indent N spaces, or --compact without any.
void RunFormat(const Invocation& invocation, Output&) {
    Invocation toStdout = invocation;
    if (!toStdout.output) toStdout.output = "-";
    const Run run(toStdout);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    if (invocation.compact || invocation.indent) {
        run.Require(run.File(), "cannot lay the document out",
                    LayOut(doc.GetDomDocument(), invocation.indent.value_or(-1)));
    }
    SaveDocument(run, doc);
}

[[noreturn]] void FailExisting(const Run& run, const std::string& file) {
    run.Fail(file, "already exists, not replaced", HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
}

// A new identified document. An existing file is kept: `new` only creates.
// The document is saved under a private name beside FILE and then given the
// name FILE by a step that refuses to replace, so a file that appears after
// the first check is kept as well.
void RunNew(const Invocation& invocation, Output&) {
    const Run run(invocation);
    const std::string& file = run.File();
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, error))) {
        FailExisting(run, file);
    }
    Document& doc = KeptDocument();
    if (doc.IsError()) run.Fail(file, "cannot create a document", doc.LastResult());
    const NodePtr root = doc.CreateXMLWithID();
    // The root may come back without its ID: IsError() tells.
    if (!root || doc.IsError()) run.Fail(file, "CreateXMLWithID failed", doc.LastResult());
    StagingFolder staging;
    run.Require(file, "cannot save", staging.Create(file));
    const std::string& staged = staging.FilePath();
    run.Require(file, "cannot save", doc.Save(run.Wide(file, staged)));
    const HRESULT published = PublishWithoutReplacing(staged, file);
    if (published == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) FailExisting(run, file);
    run.Require(file, "cannot save", published);
}

void RunStamp(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    LoadFile(run, doc);
    const NodePtr node = SelectNode(run, doc, run.Operand(1));
    run.Require(run.File(), "AddIDToNode failed", doc.AddIDToNode(node));
    SaveDocument(run, doc);
}

void RunId(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& scratch = KeptDocument();
    if (scratch.IsError()) run.Fail("", "cannot create a document", scratch.LastResult());
    const NodePtr root = scratch.CreateXMLWithID();
    if (!root || scratch.IsError()) run.Fail("", "CreateXMLWithID failed", scratch.LastResult());
    std::wstring id;
    run.Require("", "GetNodeAttr failed", scratch.GetNodeAttr(root, L"ID", id));
    out.Line(id);
}

}  // namespace

void Output::Line(std::wstring_view text) {
    Line(Utf8FromWide(text));
}

void Output::Line(std::string_view utf8) {
    text_ += prefix_;
    text_ += utf8;
    text_ += terminator_;
}

const std::vector<Subcommand>& Subcommands() {
    constexpr unsigned kQuery = kTakesNamespaces | kTakesFiles;
    constexpr unsigned kEdit = kTakesNamespaces | kTakesAll;
    static const std::vector<Subcommand> kSubcommands = {
        {"get", "FILE... XPATH", "text of the first match, or the value of XPATH",
         "Prints the text of the first node XPATH selects (an element's text includes its\n"
         "descendants' text). For an expression that yields a number, a string or a\n"
         "boolean (count(//Item), string(/a/@b), //a = 'x') it prints that value.",
         2, 2, false, RunGet, "Queries", kQuery},
        {"values", "FILE... XPATH", "text of every match, one per line",
         "Prints the text of every node XPATH selects, in document order, one per line\n"
         "(ended by NUL with -0).",
         2, 2, false, RunValues, "Queries", kQuery | kTakesNull},
        {"count", "FILE... XPATH", "number of nodes XPATH selects",
         "Prints the number of nodes XPATH selects; when it is 0 the status is 1.", 2, 2, false,
         RunCount, "Queries", kQuery},
        {"xml", "FILE... [XPATH]", "markup of the document or of the first match",
         "Prints the serialised document, or the markup of the first node XPATH selects\n"
         "(of each, one after the other, with --all). The output is UTF-8 and its XML\n"
         "declaration, if any, says so. With several files XPATH is required (/ for the\n"
         "whole document).",
         1, 2, false, RunXml, "Queries", kQuery | kTakesAll},
        {"children", "FILE... XPATH", "type and name of each child of the first match",
         "Prints one line per child of the first node XPATH selects: its type (element,\n"
         "text, comment, cdata, processing-instruction, ...) and, for named types, a tab\n"
         "and its name.",
         2, 2, false, RunChildren, "Queries", kQuery | kTakesNull},
        {"attr", "FILE... XPATH NAME", "value of one attribute of the first match",
         "Prints the value of the attribute NAME (compared without prefix) of the first node\n"
         "XPATH selects; an empty line when the element has no such attribute.",
         3, 3, false, RunAttr, "Queries", kQuery},
        {"attrs", "FILE... XPATH", "all attributes of the first match as name=value",
         "Prints every attribute of the first node XPATH selects as name=value, one per\n"
         "line (names without prefix, namespace declarations included).",
         2, 2, false, RunAttrs, "Queries", kQuery | kTakesNull},
        {"check", "FILE...", "is each file well-formed XML? (no output when so)",
         "Loads each FILE and says nothing when it is well-formed; otherwise one line on\n"
         "standard error with the file, the line and column and the parser's reason.\n"
         "The status is 0 when every file loads, else 2.",
         1, 1, false, RunCheck, "Queries", kTakesFiles},
        {"set", "FILE XPATH TEXT", "replace the content of the first match by TEXT",
         "Replaces the content of the first node XPATH selects (every one with --all) by\n"
         "TEXT, then saves.",
         3, 3, true, RunSet, "Edits", kEdit},
        {"set-attr", "FILE XPATH NAME VALUE", "set an attribute of the first match",
         "Sets (or replaces) the attribute NAME of the first node XPATH selects (of every\n"
         "one with --all), then saves.",
         4, 4, true, RunSetAttr, "Edits", kEdit},
        {"append", "FILE XPATH NAME [TEXT]", "append a new element under the first match",
         "Appends a new element NAME, holding TEXT when given, as the last child of the\n"
         "first element XPATH selects (of every one with --all), then saves.",
         3, 4, true, RunAppend, "Edits", kEdit},
        {"remove", "FILE XPATH", "remove the first match (an element, an attribute, ...)",
         "Removes the first node XPATH selects (every one with --all) with its subtree, or\n"
         "the attribute it selects (//a/@b), then saves. The document element cannot be\n"
         "removed (a file without one would not load again).",
         2, 2, true, RunRemove, "Edits", kEdit},
        {"clear", "FILE XPATH", "remove every child of the first match",
         "Removes every child of the first node XPATH selects (of every one with --all),\n"
         "then saves.",
         2, 2, true, RunClear, "Edits", kEdit},
        {"merge-menu", "FILE XPATH MENUFILE", "append the entries of MENUFILE's /Root/Menu",
         "Appends a copy of every child of /Root/Menu in MENUFILE under the first node\n"
         "XPATH selects in FILE, then saves. Fails with status 2 when MENUFILE cannot be\n"
         "loaded or has no /Root/Menu. MENUFILE must be a regular file.",
         3, 3, true, RunMergeMenu, "Edits", kTakesNamespaces},
        {"format", "FILE", "the document indented, on standard output (also: fmt)",
         "Prints the document laid out: indented by two spaces as the library saves it,\n"
         "by N spaces with --indent N, or without line breaks with --compact; in the\n"
         "file's own encoding. Writes to OUT instead with -o OUT (FILE itself included).",
         1, 1, false, RunFormat, "Edits", kTakesOutput | kTakesLayout},
        {"stamp", "FILE XPATH", "set ID to the machine identity on the first match",
         "Sets the attribute ID of the first node XPATH selects to the machine identity\n"
         "(\"Win32_\" and the lowest permanent network adapter address), then saves.",
         2, 2, true, RunStamp, "Edits", kTakesNamespaces},
        {"new", "FILE", "create FILE holding Root stamped with the machine ID",
         "Creates FILE holding an XML declaration (GB2312) and an element Root whose ID\n"
         "attribute is the machine identity. An existing FILE is never replaced.",
         1, 1, false, RunNew, "Machine identity"},
        {"id", "", "print the machine identity",
         "Prints the machine identity: \"Win32_\" and the lowest permanent network adapter\n"
         "address in 12 hex digits.",
         0, 0, false, RunId, "Machine identity"},
    };
    return kSubcommands;
}

const Subcommand* FindSubcommand(std::string_view name) {
    if (name == "fmt") name = "format";  // the short name xmlstarlet users type
    for (const Subcommand& subcommand : Subcommands()) {
        if (name == subcommand.name) return &subcommand;
    }
    return nullptr;
}

}  // namespace xmlutil::tool
