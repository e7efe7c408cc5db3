// SPDX-License-Identifier: MIT
#include "results.h"

#include <xmlutil/msxml.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace xmlutil::tool {
namespace {

struct NamedResult {
    HRESULT code;
    const char* name;
};

#define XMLUTIL_NAMED(code) \
    NamedResult {           \
        code, #code         \
    }
#define XMLUTIL_NAMED_WIN32(error)                                  \
    NamedResult {                                                   \
        HRESULT_FROM_WIN32(error), "HRESULT_FROM_WIN32(" #error ")" \
    }

constexpr NamedResult kNamedResults[] = {
    XMLUTIL_NAMED(S_OK),
    XMLUTIL_NAMED(S_FALSE),
    XMLUTIL_NAMED(E_NOTIMPL),
    XMLUTIL_NAMED(E_NOINTERFACE),
    XMLUTIL_NAMED(E_POINTER),
    XMLUTIL_NAMED(E_ABORT),
    XMLUTIL_NAMED(E_FAIL),
    XMLUTIL_NAMED(E_UNEXPECTED),
    XMLUTIL_NAMED(E_ACCESSDENIED),
    XMLUTIL_NAMED(E_HANDLE),
    XMLUTIL_NAMED(E_OUTOFMEMORY),
    XMLUTIL_NAMED(E_INVALIDARG),
    XMLUTIL_NAMED(CLASS_E_NOAGGREGATION),
    XMLUTIL_NAMED(REGDB_E_CLASSNOTREG),
    XMLUTIL_NAMED(CO_E_NOTINITIALIZED),
    XMLUTIL_NAMED(RPC_E_CHANGED_MODE),
    XMLUTIL_NAMED_WIN32(ERROR_FILE_NOT_FOUND),
    XMLUTIL_NAMED_WIN32(ERROR_PATH_NOT_FOUND),
    XMLUTIL_NAMED_WIN32(ERROR_NOT_ENOUGH_MEMORY),
    XMLUTIL_NAMED_WIN32(ERROR_WRITE_FAULT),
    XMLUTIL_NAMED_WIN32(ERROR_READ_FAULT),
    XMLUTIL_NAMED_WIN32(ERROR_HANDLE_DISK_FULL),
    XMLUTIL_NAMED_WIN32(ERROR_NOT_SUPPORTED),
    XMLUTIL_NAMED_WIN32(ERROR_FILE_EXISTS),
    XMLUTIL_NAMED_WIN32(ERROR_DISK_FULL),
    XMLUTIL_NAMED_WIN32(ERROR_INVALID_NAME),
    XMLUTIL_NAMED_WIN32(ERROR_ALREADY_EXISTS),
    XMLUTIL_NAMED_WIN32(ERROR_FILE_TOO_LARGE),
    XMLUTIL_NAMED_WIN32(ERROR_DIRECTORY),
    XMLUTIL_NAMED_WIN32(ERROR_NO_UNICODE_TRANSLATION),
    XMLUTIL_NAMED(XMLUTIL_E_NOT_WELL_FORMED),
    XMLUTIL_NAMED(XMLUTIL_E_ENCODING),
    XMLUTIL_NAMED(XMLUTIL_E_DTD_REFUSED),
    XMLUTIL_NAMED(XMLUTIL_E_TOO_LARGE),
};

#undef XMLUTIL_NAMED
#undef XMLUTIL_NAMED_WIN32

}  // namespace

std::string ResultName(HRESULT hr) {
    // E_ACCESSDENIED, E_HANDLE, E_OUTOFMEMORY and E_INVALIDARG are themselves
    // HRESULT_FROM_WIN32 codes; the table lists them first, so the short
    // names win.
    for (const NamedResult& named : kNamedResults) {
        if (named.code == hr) return named.name;
    }
    return "unknown";
}

std::string DescribeResult(HRESULT hr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(hr)));
    return std::string(hex) + " " + ResultName(hr);
}

HRESULT ResultFromWriteErrno(int err) {
    switch (err) {
        case ENOENT:  // on the write path a missing name is a missing folder
        case ENOTDIR:
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        case EACCES:
        case EPERM:
        case EROFS:
            return E_ACCESSDENIED;
        case EEXIST:
            return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
        case ENOSPC:
        case EDQUOT:
            return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        case ENAMETOOLONG:
        case ELOOP:
            return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        case ENOMEM:
            return E_OUTOFMEMORY;
        default:
            return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }
}

HRESULT ResultFromReadErrno(int err) {
    switch (err) {
        case ENOENT:
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        case ENOTDIR:
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        case EACCES:
        case EPERM:
            return E_ACCESSDENIED;
        case EISDIR:
            return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
        case ENAMETOOLONG:
        case ELOOP:
            return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        case ENOMEM:
            return E_OUTOFMEMORY;
        default:
            return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    }
}

}  // namespace xmlutil::tool
