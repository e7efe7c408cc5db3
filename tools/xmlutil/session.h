// SPDX-License-Identifier: MIT
// What every subcommand does around its library call: load FILE (a path or
// standard input), select nodes, save to the target, and end with one line
// on standard error that names the file, says what went wrong in words and
// gives the result code last.
#pragma once

#include <xmlutil/XMLUtil.h>

#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

namespace xmlutil::tool {

using NodePtr = CComPtr<IXMLDOMNode>;

// The document object, with the result it recorded last within reach so that
// members which answer with a handle can still explain a failure.
class Document : public CXMLUtil {
  public:
    HRESULT LastResult() const { return m_hr; }
};

// A new document that lives until the process ends (see main.cpp: the
// system reclaims it at exit faster than a teardown node by node would).
Document& KeptDocument();

// Owns a BSTR: one the DOM service hands out, or a copy of the tool's text.
class OwnedBstr {
  public:
    OwnedBstr() = default;
    explicit OwnedBstr(const std::wstring& text)
        : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (value_ == nullptr) throw std::bad_alloc();
    }
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    ~OwnedBstr() { SysFreeString(value_); }

    BSTR* Slot() { return &value_; }
    BSTR Get() const { return value_; }
    std::wstring_view View() const {
        return value_ ? std::wstring_view(value_, SysStringLen(value_)) : std::wstring_view();
    }

  private:
    BSTR value_ = nullptr;
};

// How a file is named in messages and output prefixes ("-" is standard input).
std::string ShownName(const std::string& file);

// One run of a subcommand on one file: its operands and its messages.
class Run {
  public:
    explicit Run(const Invocation& invocation) : invocation_(invocation) {}

    const Invocation& Command() const { return invocation_; }
    const std::string& Operand(size_t index) const { return invocation_.operands.at(index); }
    bool HasOperand(size_t index) const { return index < invocation_.operands.size(); }
    const std::string& File() const { return Operand(0); }

    // "xmlutil SUBCOMMAND: FILE: what: 0x... NAME" (status 2).
    [[noreturn]] void Fail(const std::string& file, const std::string& what, HRESULT hr) const;
    [[noreturn]] void NoMatch(const std::string& file, const std::string& xpath) const;
    void Require(const std::string& file, const std::string& what, HRESULT hr) const {
        if (hr != S_OK) Fail(file, what, hr);
    }
    // An argument as wide text; arguments that are not UTF-8 cannot be.
    std::wstring Wide(const std::string& file, const std::string& argument) const;

  private:
    const Invocation& invocation_;
};

// "cannot evaluate XPATH", with the reason the DOM left for the failure
// that just happened (an unbound prefix, named) when it left one.
std::string EvaluationFailure(const std::string& xpath);

// Loads FILE (operand 0) into `doc` and binds the -N prefixes.
void LoadFile(const Run& run, Document& doc);
// Loads another file (a menu file) into `doc`.
void LoadFile(const Run& run, Document& doc, const std::string& file);

// The first node XPATH selects; no match ends the run with status 1.
NodePtr SelectNode(const Run& run, Document& doc, const std::string& xpath);
// Every node XPATH selects (at least one), or the first only unless --all.
std::vector<NodePtr> SelectTargets(const Run& run, Document& doc, const std::string& xpath);

// Writes the document where the run says: -o OUT, standard output for
// "-o -" or when FILE is "-", else FILE itself. A document without an
// element, or one the library refuses to save, is never written.
void SaveDocument(const Run& run, Document& doc);

// On standard error, for --all edits: how many nodes changed.
void ReportChanged(const Run& run, size_t count);

}  // namespace xmlutil::tool
