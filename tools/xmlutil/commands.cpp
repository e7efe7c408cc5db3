// SPDX-License-Identifier: MIT
#include "commands.h"

#include <xmlutil/XMLUtil.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "create_file.h"
#include "results.h"
#include "text.h"

namespace xmlutil::tool {
namespace {

using NodePtr = CComPtr<IXMLDOMNode>;

// The document object, with the result it recorded last within reach so that
// members which answer with a handle can still explain a failure.
class Document : public CXMLUtil {
  public:
    HRESULT LastResult() const { return m_hr; }
};

// A new document that lives until the process ends. The tool ends with
// std::_Exit once its output is written (see main.cpp), so the system reclaims
// the documents at once: freeing a large tree node by node, and the allocator
// work it sets off, cost more than a third of a query on a 50 MB file.
Document& KeptDocument() {
    static std::deque<Document> documents;
    return documents.emplace_back();
}

// Owns a BSTR the DOM service hands out.
class ReceivedBstr {
  public:
    ReceivedBstr() = default;
    ReceivedBstr(const ReceivedBstr&) = delete;
    ReceivedBstr& operator=(const ReceivedBstr&) = delete;
    ~ReceivedBstr() { SysFreeString(value_); }

    BSTR* Slot() { return &value_; }
    std::wstring_view View() const {
        return value_ ? std::wstring_view(value_, SysStringLen(value_)) : std::wstring_view();
    }

  private:
    BSTR value_ = nullptr;
};

// A file name or expression as it may appear in the one-line message.
std::string OnOneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    return text;
}

// Builds the messages of one run: "xmlutil SUBCOMMAND: FILE: what: 0x... NAME".
class Run {
  public:
    explicit Run(const Invocation& invocation) : invocation_(invocation) {}

    const std::string& Operand(size_t index) const { return invocation_.operands.at(index); }
    bool HasOperand(size_t index) const { return index < invocation_.operands.size(); }
    // Where an edit is written: -o OUT when given, else the file itself.
    const std::string& SaveTarget() const {
        return invocation_.output ? *invocation_.output : Operand(0);
    }

    [[noreturn]] void Fail(const std::string& file, const std::string& what, HRESULT hr) const {
        std::string message = "xmlutil " + invocation_.subcommand + ": ";
        if (!file.empty()) message += file + ": ";
        throw Exit{kExitFailure, OnOneLine(message + what) + ": " + DescribeResult(hr)};
    }

    [[noreturn]] void NoMatch(const std::string& file, const std::string& xpath) const {
        throw Exit{kExitNoMatch, OnOneLine("xmlutil " + invocation_.subcommand + ": " + file +
                                           ": no node matches " + xpath)};
    }

    void Require(const std::string& file, const std::string& what, HRESULT hr) const {
        if (hr != S_OK) Fail(file, what, hr);
    }

    // An argument as wide text; arguments that are not UTF-8 cannot be.
    std::wstring Wide(const std::string& file, const std::string& argument) const {
        std::optional<std::wstring> wide = WideFromUtf8(argument);
        if (!wide) {
            Fail(file, "argument is not valid UTF-8",
                 HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
        }
        return std::move(*wide);
    }

  private:
    const Invocation& invocation_;
};

// Why a file did not load, for the message: the library only says S_FALSE.
std::string LoadFailureReason(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) return "cannot load (no such file)";
    if (std::filesystem::is_directory(status)) return "cannot load (a directory)";
    if (!std::ifstream(path, std::ios::binary)) return "cannot load (unreadable)";
    return "cannot load (not well-formed XML)";
}

void LoadFile(const Run& run, Document& doc, const std::string& path) {
    if (doc.IsError()) run.Fail(path, "cannot create a document", doc.LastResult());
    const HRESULT hr = doc.Load(run.Wide(path, path));
    if (hr != S_OK) run.Fail(path, LoadFailureReason(path), hr);
}

NodePtr SelectNode(const Run& run, Document& doc, const std::string& file,
                   const std::string& xpath) {
    NodePtr node;
    const HRESULT hr = doc.GetSingleNode(run.Wide(file, xpath), node);
    if (hr == S_FALSE) run.NoMatch(file, xpath);
    run.Require(file, "cannot evaluate " + xpath, hr);
    return node;
}

// Writes the edited document to its target. A document without an element
// would not load again, so it is never written.
void SaveDocument(const Run& run, Document& doc) {
    const std::string& target = run.SaveTarget();
    NodePtr root;
    const HRESULT rootResult = doc.GetRootNode(root);
    if (rootResult != S_OK) {
        run.Fail(target, "the edit leaves no document element, nothing written", rootResult);
    }
    run.Require(target, "cannot save", doc.Save(run.Wide(target, target)));
}

// Loads FILE (operand 0) and selects XPATH (operand 1) in it.
NodePtr LoadAndSelect(const Run& run, Document& doc) {
    LoadFile(run, doc, run.Operand(0));
    return SelectNode(run, doc, run.Operand(0), run.Operand(1));
}

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
    ReceivedBstr name;
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

// ---- queries -----------------------------------------------------------------

void RunGet(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    std::wstring value;
    run.Require(run.Operand(0), "GetNodeValue failed", doc.GetNodeValue(node, value));
    out.Line(value);
}

void RunValues(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const std::string& file = run.Operand(0);
    LoadFile(run, doc, file);
    std::vector<std::wstring> values;
    const HRESULT hr = doc.GetNodeValues(run.Wide(file, run.Operand(1)), values);
    if (FAILED(hr)) run.Fail(file, "cannot evaluate " + run.Operand(1), hr);
    if (values.empty()) run.NoMatch(file, run.Operand(1));
    run.Require(file, "GetNodeValues failed", hr);
    for (const std::wstring& value : values) out.Line(value);
}

void RunCount(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const std::string& file = run.Operand(0);
    LoadFile(run, doc, file);
    long count = 0;
    run.Require(file, "cannot evaluate " + run.Operand(1),
                doc.GetNodesCount(run.Wide(file, run.Operand(1)), count));
    out.Line(std::to_string(count));
    // Like `grep -c`: the count is printed, and none found is still status 1.
    if (count == 0) run.NoMatch(file, run.Operand(1));
}

void RunXml(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const std::string& file = run.Operand(0);
    LoadFile(run, doc, file);
    NodePtr node;  // empty: the whole document
    if (run.HasOperand(1)) node = SelectNode(run, doc, file, run.Operand(1));
    std::wstring xml;
    run.Require(file, "GetXML failed", doc.GetXML(xml, node));
    DeclareUtf8(xml);
    while (!xml.empty() && (xml.back() == L'\n' || xml.back() == L'\r')) xml.pop_back();
    out.Line(xml);
}

void RunChildren(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    std::vector<NodePtr> children;
    run.Require(run.Operand(0), "GetChildNodes failed", doc.GetChildNodes(node, children));
    for (const NodePtr& child : children) {
        if (child) out.Line(DescribeChild(child));
    }
}

void RunAttr(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    std::wstring value;
    run.Require(run.Operand(0), "GetNodeAttr failed",
                doc.GetNodeAttr(node, run.Wide(run.Operand(0), run.Operand(2)), value));
    out.Line(value);
}

void RunAttrs(const Invocation& invocation, Output& out) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    run.Require(run.Operand(0), "GetNodeAttrs failed", doc.GetNodeAttrs(node, names, values));
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
        out.Line(names[i] + L"=" + values[i]);
    }
}

// ---- edits -------------------------------------------------------------------

void RunSet(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    run.Require(run.Operand(0), "SetNodeValue failed",
                doc.SetNodeValue(node, run.Wide(run.Operand(0), run.Operand(2))));
    SaveDocument(run, doc);
}

void RunSetAttr(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    const std::string& file = run.Operand(0);
    run.Require(
        file, "SetNodeAttr failed",
        doc.SetNodeAttr(node, run.Wide(file, run.Operand(2)), run.Wide(file, run.Operand(3))));
    SaveDocument(run, doc);
}

void RunAppend(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr parent = LoadAndSelect(run, doc);
    const std::string& file = run.Operand(0);
    const std::wstring text = run.HasOperand(3) ? run.Wide(file, run.Operand(3)) : std::wstring();
    const NodePtr added = doc.AppendChildNode(parent, run.Wide(file, run.Operand(2)), text);
    if (!added) run.Fail(file, "AppendChildNode failed", doc.LastResult());
    // The element comes back even when its text could not be stored (text XML
    // cannot hold); the recorded result tells, and such an edit is not saved.
    if (doc.IsError()) {
        run.Fail(file, "AppendChildNode could not store the text", doc.LastResult());
    }
    SaveDocument(run, doc);
}

void RunRemove(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    run.Require(run.Operand(0), "RemoveNode failed", doc.RemoveNode(node));
    SaveDocument(run, doc);
}

void RunClear(const Invocation& invocation, Output&) {
    const Run run(invocation);
    Document& doc = KeptDocument();
    const NodePtr node = LoadAndSelect(run, doc);
    run.Require(run.Operand(0), "RemoveAllChild failed", doc.RemoveAllChild(node));
    SaveDocument(run, doc);
}

// LoadMenuXml reports nothing, so the menu file is checked here first and the
// children counted before and after: a merge that lost entries is not saved.
void RunMergeMenu(const Invocation& invocation, Output&) {
    const Run run(invocation);
    const std::string& file = run.Operand(0);
    const std::string& menuFile = run.Operand(2);
    Document& doc = KeptDocument();
    LoadFile(run, doc, file);
    Document& menu = KeptDocument();
    LoadFile(run, menu, menuFile);
    NodePtr menuNode;
    const HRESULT menuResult = menu.GetSingleNode(L"/Root/Menu", menuNode);
    if (menuResult != S_OK) run.Fail(menuFile, "has no /Root/Menu", menuResult);
    long entries = 0;
    run.Require(menuFile, "GetChildNodeCount failed", menu.GetChildNodeCount(menuNode, entries));

    NodePtr target = SelectNode(run, doc, file, run.Operand(1));
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

[[noreturn]] void FailExisting(const Run& run, const std::string& file) {
    run.Fail(file, "already exists, not replaced", HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
}

// A new identified document. An existing file is kept: `new` only creates.
// The document is saved under a private name beside FILE and then given the
// name FILE by a step that refuses to replace, so a file that appears after
// the first check is kept as well.
void RunNew(const Invocation& invocation, Output&) {
    const Run run(invocation);
    const std::string& file = run.Operand(0);
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
    const NodePtr node = LoadAndSelect(run, doc);
    run.Require(run.Operand(0), "AddIDToNode failed", doc.AddIDToNode(node));
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
    text_ += utf8;
    text_ += '\n';
}

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> kSubcommands = {
        {"get", "FILE XPATH", "text of the first node XPATH selects",
         "Prints the text of the first node XPATH selects (an element's text includes its\n"
         "descendants' text).",
         2, 2, false, RunGet, "Queries"},
        {"values", "FILE XPATH", "text of every node XPATH selects, one per line",
         "Prints the text of every node XPATH selects, in document order, one per line.", 2, 2,
         false, RunValues, "Queries"},
        {"count", "FILE XPATH", "number of nodes XPATH selects",
         "Prints the number of nodes XPATH selects; when it is 0 the status is 1.", 2, 2, false,
         RunCount, "Queries"},
        {"xml", "FILE [XPATH]", "markup of the document or of the first match",
         "Prints the serialised document, or the markup of the first node XPATH selects.\n"
         "The output is UTF-8 and its XML declaration, if any, says so.",
         1, 2, false, RunXml, "Queries"},
        {"children", "FILE XPATH", "type and name of each child of the first match",
         "Prints one line per child of the first node XPATH selects: its type (element,\n"
         "text, comment, cdata, processing-instruction, ...) and, for named types, a tab\n"
         "and its name.",
         2, 2, false, RunChildren, "Queries"},
        {"attr", "FILE XPATH NAME", "value of one attribute of the first match",
         "Prints the value of the attribute NAME (compared without prefix) of the first node\n"
         "XPATH selects; an empty line when the element has no such attribute.",
         3, 3, false, RunAttr, "Queries"},
        {"attrs", "FILE XPATH", "all attributes of the first match as name=value",
         "Prints every attribute of the first node XPATH selects as name=value, one per\n"
         "line (names without prefix, namespace declarations included).",
         2, 2, false, RunAttrs, "Queries"},
        {"set", "FILE XPATH TEXT", "replace the content of the first match by TEXT",
         "Replaces the content of the first node XPATH selects by TEXT, then saves.", 3, 3, true,
         RunSet, "Edits"},
        {"set-attr", "FILE XPATH NAME VALUE", "set an attribute of the first match",
         "Sets (or replaces) the attribute NAME of the first node XPATH selects, then saves.", 4, 4,
         true, RunSetAttr, "Edits"},
        {"append", "FILE XPATH NAME [TEXT]", "append a new element under the first match",
         "Appends a new element NAME, holding TEXT when given, as the last child of the\n"
         "first node XPATH selects, then saves.",
         3, 4, true, RunAppend, "Edits"},
        {"remove", "FILE XPATH", "remove the first match",
         "Removes the first node XPATH selects with its subtree, then saves. The document\n"
         "element cannot be removed (a file without one would not load again), nor an\n"
         "attribute (it has no parent node to leave).",
         2, 2, true, RunRemove, "Edits"},
        {"clear", "FILE XPATH", "remove every child of the first match",
         "Removes every child of the first node XPATH selects, then saves.", 2, 2, true, RunClear,
         "Edits"},
        {"merge-menu", "FILE XPATH MENUFILE", "append the entries of MENUFILE's /Root/Menu",
         "Appends a copy of every child of /Root/Menu in MENUFILE under the first node\n"
         "XPATH selects in FILE, then saves. Fails with status 2 when MENUFILE cannot be\n"
         "loaded or has no /Root/Menu.",
         3, 3, true, RunMergeMenu, "Edits"},
        {"stamp", "FILE XPATH", "set ID to the machine identity on the first match",
         "Sets the attribute ID of the first node XPATH selects to the machine identity\n"
         "(\"Win32_\" and the lowest permanent network adapter address), then saves.",
         2, 2, true, RunStamp, "Edits"},
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
    for (const Subcommand& subcommand : Subcommands()) {
        if (name == subcommand.name) return &subcommand;
    }
    return nullptr;
}

}  // namespace xmlutil::tool
