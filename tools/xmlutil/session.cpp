// SPDX-License-Identifier: MIT
#include "session.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <utility>

#include "create_file.h"
#include "input.h"
#include "output.h"
#include "results.h"
#include "text.h"

namespace xmlutil::tool {
namespace {

// A file name or expression as it may appear in the one-line message.
std::string OnOneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    return text;
}

// The kind of a parse failure in words, ahead of the parser's own.
std::string KindOfParseFailure(long code) {
    switch (code) {
        case XMLUTIL_E_NOT_WELL_FORMED:
            return "not well-formed";
        case XMLUTIL_E_ENCODING:
            return "unsupported encoding";
        case XMLUTIL_E_DTD_REFUSED:
            return "DTD or external entity refused";
        case XMLUTIL_E_TOO_LARGE:
            return "too deeply nested or too large";
        default:
            return "cannot load";
    }
}

// Why the document did not load, from its parse error object: the file
// with the line and column, the parser's reason, and the kind of failure as
// the code (the library itself only says S_FALSE).
[[noreturn]] void FailLoad(const Run& run, Document& doc, const std::string& file) {
    CComPtr<IXMLDOMParseError> error;
    long code = 0;
    if (doc.GetDomDocument()->get_parseError(&error) != S_OK || !error ||
        error->get_errorCode(&code) != S_OK || code == 0) {
        run.Fail(file, "not well-formed XML", S_FALSE);
    }
    OwnedBstr reason;
    long line = 0;
    long column = 0;
    error->get_reason(reason.Slot());
    error->get_line(&line);
    error->get_linepos(&column);
    std::string where = ShownName(file);
    if (line > 0) where += ":" + std::to_string(line) + ":" + std::to_string(column);
    std::string words = KindOfParseFailure(code);
    if (!reason.View().empty()) words += ": " + Utf8FromWide(reason.View());
    run.Fail(where, words, code);
}

// Owns a SAFEARRAY.
class ByteArray {
  public:
    explicit ByteArray(size_t size)
        : array_(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size))) {
        if (array_ == nullptr) throw std::bad_alloc();
    }
    ~ByteArray() { SafeArrayDestroy(array_); }
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;
    SAFEARRAY* Get() const { return array_; }

  private:
    SAFEARRAY* array_;
};

// A stream is read here and handed to the document as the bytes of a file
// (a byte array), parsed as the library parses a file.
void LoadStream(const Run& run, Document& doc, const std::string& file, InputSource& input) {
    std::string bytes;
    if (std::optional<InputProblem> problem = input.ReadAll(bytes)) {
        run.Fail(file, problem->what, problem->code);
    }
    const ByteArray array(bytes.size());
    void* data = nullptr;
    run.Require(file, "cannot hold the input", SafeArrayAccessData(array.Get(), &data));
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
    SafeArrayUnaccessData(array.Get());
    bytes = std::string();  // a large input is not held twice while it parses
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = array.Get();  // borrowed: `array` owns it
    VARIANT_BOOL loaded = VARIANT_FALSE;
    doc.GetDomDocument()->load(source, &loaded);
    if (loaded != VARIANT_TRUE) FailLoad(run, doc, file);
}

// What a refused save says: past a size limit, the limits by name, since
// the library saves nothing the loader would refuse.
std::string SaveFailure(HRESULT hr) {
    if (hr != HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)) return "cannot save";
    return "not saved: a name would be over the loader's limit of " +
           std::to_string(xmlutil::kMaxNameBytes) + " bytes or a text over its limit of " +
           std::to_string(xmlutil::kMaxTextBytes) + " bytes";
}

// Where a save goes: a descriptor this process holds, or a file by its path.
struct SaveTarget {
    std::optional<int> descriptor;
    std::string path;
};

// An edit of standard input ("-", /dev/stdin) goes to standard output.
SaveTarget TargetOf(const Run& run) {
    const Invocation& invocation = run.Command();
    const std::string& path = invocation.output ? *invocation.output : run.File();
    std::optional<int> descriptor =
        path == "-" ? std::optional<int>(STDIN_FILENO) : DescriptorBehind(path);
    if (descriptor == STDIN_FILENO || (invocation.output && *invocation.output == "-")) {
        return SaveTarget{STDOUT_FILENO, "(standard output)"};
    }
    return SaveTarget{descriptor, path};
}

// The library saves to a file by its name; a descriptor gets a copy of what
// it saved under a private name, written as a stream.
void SaveToDescriptor(const Run& run, Document& doc, const std::string& shown, int fd) {
    StagingFolder staging;
    run.Require(shown, "cannot save", staging.Create(TemporaryFolder() + "/out.xml"));
    const std::string& staged = staging.FilePath();
    const HRESULT saved = doc.Save(run.Wide(shown, staged));
    if (saved != S_OK) run.Fail(shown, SaveFailure(saved), saved);
    std::fflush(stdout);
    if (const int err = CopyFileTo(staged, fd)) {
        run.Fail(shown, std::string("cannot write: ") + std::strerror(err),
                 ResultFromWriteErrno(err));
    }
}

// ": reason" from the thread's error information, which the DOM leaves with
// a failure it can explain (an unbound prefix, a malformed namespace list);
// empty when it left none.
std::string ReasonLeftByTheDom() {
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return std::string();
    OwnedBstr description;
    if (info->GetDescription(description.Slot()) != S_OK || description.View().empty()) {
        return std::string();
    }
    return ": " + Utf8FromWide(description.View());
}

// "xmlns:p='uri'" for one -N binding (PREFIX=URI, checked when parsed).
std::string Declaration(const Run& run, const std::string& binding) {
    const size_t equals = binding.find('=');
    const std::string uri = binding.substr(equals + 1);
    const char quote = uri.find('\'') == std::string::npos ? '\'' : '"';
    if (uri.find(quote) != std::string::npos) {
        run.Fail(run.File(), "-N " + binding + ": a URI cannot hold both kinds of quote",
                 E_INVALIDARG);
    }
    return "xmlns:" + binding.substr(0, equals) + "=" + quote + uri + quote;
}

// The namespace of the document element when it is the default one (no
// prefix), for the prefix "_" as xmlstarlet users write it.
std::string DefaultNamespace(Document& doc) {
    NodePtr root;
    if (doc.GetRootNode(root) != S_OK) return std::string();
    OwnedBstr prefix;
    OwnedBstr uri;
    if (root->get_prefix(prefix.Slot()) != S_OK || !prefix.View().empty()) return std::string();
    if (root->get_namespaceURI(uri.Slot()) != S_OK) return std::string();
    return Utf8FromWide(uri.View());
}

// The SelectionNamespaces value: each -N binding, and "_" for the document
// element's default namespace unless -N binds "_" itself.
std::string SelectionNamespaces(const Run& run, Document& doc) {
    std::string value;
    bool underscoreBound = false;
    for (const std::string& binding : run.Command().namespaces) {
        value += (value.empty() ? "" : " ") + Declaration(run, binding);
        underscoreBound = underscoreBound || binding.rfind("_=", 0) == 0;
    }
    if (!underscoreBound) {
        const std::string uri = DefaultNamespace(doc);
        if (!uri.empty()) value += (value.empty() ? "" : " ") + Declaration(run, "_=" + uri);
    }
    return value;
}

// Binds the prefixes XPATH may use beyond the document's own.
void BindNamespaces(const Run& run, Document& doc) {
    const std::string value = SelectionNamespaces(run, doc);
    if (value.empty()) return;
    CComPtr<IXMLDOMDocument2> document;
    run.Require(run.File(), "cannot bind namespaces",
                doc.GetDomDocument().QueryInterface(&document));
    const OwnedBstr text(run.Wide(run.File(), value));
    VARIANT namespaces;
    VariantInit(&namespaces);
    namespaces.vt = VT_BSTR;
    namespaces.bstrVal = text.Get();  // borrowed: `text` owns it
    const HRESULT hr = document->setProperty(OwnedBstr(L"SelectionNamespaces").Get(), namespaces);
    if (hr != S_OK) run.Fail(run.File(), "-N: cannot bind the prefixes" + ReasonLeftByTheDom(), hr);
}

}  // namespace

std::string EvaluationFailure(const std::string& xpath) {
    return "cannot evaluate " + xpath + ReasonLeftByTheDom();
}

Document& KeptDocument() {
    static std::deque<Document> documents;
    return documents.emplace_back();
}

std::string ShownName(const std::string& file) {
    return file == "-" ? "(standard input)" : file;
}

void Run::Fail(const std::string& file, const std::string& what, HRESULT hr) const {
    std::string message = "xmlutil " + invocation_.subcommand + ": ";
    if (!file.empty()) message += ShownName(file) + ": ";
    throw Exit{kExitFailure, OnOneLine(message + what) + ": " + DescribeResult(hr)};
}

void Run::NoMatch(const std::string& file, const std::string& xpath) const {
    throw Exit{kExitNoMatch, OnOneLine("xmlutil " + invocation_.subcommand + ": " +
                                       ShownName(file) + ": no node matches " + xpath)};
}

std::wstring Run::Wide(const std::string& file, const std::string& argument) const {
    std::optional<std::wstring> wide = WideFromUtf8(argument);
    if (!wide) {
        Fail(file, "argument is not valid UTF-8", HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    }
    return std::move(*wide);
}

void LoadFile(const Run& run, Document& doc, const std::string& file) {
    if (doc.IsError()) run.Fail(file, "cannot create a document", doc.LastResult());
    InputSource input;
    if (std::optional<InputProblem> problem = input.Open(file)) {
        run.Fail(file, problem->what, problem->code);
    }
    if (!input.IsRegularFile()) return LoadStream(run, doc, file, input);
    if (doc.Load(run.Wide(file, file)) != S_OK) FailLoad(run, doc, file);
}

void LoadFile(const Run& run, Document& doc) {
    LoadFile(run, doc, run.File());
    BindNamespaces(run, doc);
}

NodePtr SelectNode(const Run& run, Document& doc, const std::string& xpath) {
    NodePtr node;
    const HRESULT hr = doc.GetSingleNode(run.Wide(run.File(), xpath), node);
    if (hr == S_FALSE) run.NoMatch(run.File(), xpath);
    if (hr != S_OK) run.Fail(run.File(), EvaluationFailure(xpath), hr);
    return node;
}

std::vector<NodePtr> SelectTargets(const Run& run, Document& doc, const std::string& xpath) {
    if (!run.Command().all) return {SelectNode(run, doc, xpath)};
    std::vector<NodePtr> nodes;
    const HRESULT hr = doc.GetNodes(run.Wide(run.File(), xpath), nodes);
    if (hr != S_OK) run.Fail(run.File(), EvaluationFailure(xpath), hr);
    if (nodes.empty()) run.NoMatch(run.File(), xpath);
    return nodes;
}

void SaveDocument(const Run& run, Document& doc) {
    const SaveTarget target = TargetOf(run);
    NodePtr root;
    const HRESULT rootResult = doc.GetRootNode(root);
    if (rootResult != S_OK) {
        run.Fail(target.path, "the edit leaves no document element, nothing written", rootResult);
    }
    if (target.descriptor) return SaveToDescriptor(run, doc, target.path, *target.descriptor);
    const HRESULT saved = doc.Save(run.Wide(target.path, target.path));
    if (saved != S_OK) run.Fail(target.path, SaveFailure(saved), saved);
}

void ReportChanged(const Run& run, size_t count) {
    if (!run.Command().all) return;
    std::fprintf(stderr, "xmlutil %s: %s: %zu node%s changed\n", run.Command().subcommand.c_str(),
                 OnOneLine(ShownName(run.File())).c_str(), count, count == 1 ? "" : "s");
}

}  // namespace xmlutil::tool
