// SPDX-License-Identifier: MIT
// The parse error object and the mapping from a parse failure to its
// error code and texts.
#include "platform/xmldom/parse_error.h"

#include <new>

#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom {

namespace {

HRESULT CodeOf(ParseFailureKind kind) {
    switch (kind) {
        case ParseFailureKind::kNone:
            return S_OK;
        case ParseFailureKind::kEncoding:
            return XMLUTIL_E_ENCODING;
        case ParseFailureKind::kRefusedDtd:
            return XMLUTIL_E_DTD_REFUSED;
        case ParseFailureKind::kTooLarge:
            return XMLUTIL_E_TOO_LARGE;
        case ParseFailureKind::kUnreadable:
            return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
        case ParseFailureKind::kOutOfMemory:
            return E_OUTOFMEMORY;
        case ParseFailureKind::kNotWellFormed:
            break;
    }
    return XMLUTIL_E_NOT_WELL_FORMED;
}

std::wstring WideFromUtf8(const std::string& utf8) {
    std::wstring wide;
    AppendWideFromUtf8(utf8.c_str(), wide);
    return wide;
}

const wchar_t* ReasonBeforeParsing(HRESULT code) {
    if (code == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
        code == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        return L"The file does not exist";
    }
    if (code == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) return L"Access to the file is denied";
    if (code == HRESULT_FROM_WIN32(ERROR_DIRECTORY)) return L"The path names a folder, not a file";
    if (code == HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)) return L"The file is too large to load";
    if (code == E_INVALIDARG) return L"The source is not a file path";
    if (code == E_OUTOFMEMORY) return L"Out of memory";
    return L"The file cannot be opened";
}

HRESULT ReadLong(long value, long* out) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
}

HRESULT ReadText(const std::wstring& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// A snapshot of one load's error state.
class ParseErrorObject final : public IXMLDOMParseError {
  public:
    explicit ParseErrorObject(ParseErrorState state) : state_(std::move(state)) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IXMLDOMParseError) {
            *out = static_cast<IXMLDOMParseError*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT get_errorCode(long* errorCode) override {
        return ReadLong(state_.errorCode, errorCode);
    }
    HRESULT get_url(BSTR* urlString) override { return ReadText(state_.url, urlString); }
    HRESULT get_reason(BSTR* reasonString) override {
        return ReadText(state_.reason, reasonString);
    }
    HRESULT get_srcText(BSTR* sourceString) override {
        return ReadText(state_.srcText, sourceString);
    }
    HRESULT get_line(long* lineNumber) override { return ReadLong(state_.line, lineNumber); }
    HRESULT get_linepos(long* linePosition) override {
        return ReadLong(state_.linepos, linePosition);
    }
    HRESULT get_filepos(long* filePosition) override {
        return ReadLong(state_.filepos, filePosition);
    }

  private:
    ~ParseErrorObject() = default;

    ULONG refs_ = 1;
    const ParseErrorState state_;
};

}  // namespace

ParseErrorState ParseErrorFrom(const ParseFailure& failure, const std::wstring& url) {
    ParseErrorState state;
    state.errorCode = CodeOf(failure.kind);
    if (state.errorCode == S_OK) return state;
    state.url = url;
    state.reason = WideFromUtf8(failure.reason);
    state.srcText = WideFromUtf8(failure.srcText);
    state.line = failure.line;
    state.linepos = failure.linepos;
    state.filepos = failure.filepos;
    return state;
}

ParseErrorState ParseErrorBeforeParsing(HRESULT code, const std::wstring& url) {
    ParseErrorState state;
    state.errorCode = code;
    state.url = url;
    state.reason = ReasonBeforeParsing(code);
    return state;
}

HRESULT MakeParseError(const ParseErrorState& state, IXMLDOMParseError** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    try {
        // Owned by its reference count from here.
        *out = new ParseErrorObject(state);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace xmlutil::xmldom
