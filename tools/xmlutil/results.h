// SPDX-License-Identifier: MIT
// Names of the result codes the library and the tool report.
#pragma once

#include <xmlutil/wintypes.h>

#include <string>

namespace xmlutil::tool {

// "S_FALSE", "E_INVALIDARG", "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)", ...;
// "unknown" for a code without a name here.
std::string ResultName(HRESULT hr);

// The code as eight hex digits with its name: "0x80070057 E_INVALIDARG".
std::string DescribeResult(HRESULT hr);

// The code the library reports for the same condition when a write fails
// with `err` (a missing folder, no permission, a full disk, ...);
// HRESULT_FROM_WIN32(ERROR_WRITE_FAULT) for anything else.
HRESULT ResultFromWriteErrno(int err);

// The code for a read or open that fails with `err` (a missing file, no
// permission, a folder); HRESULT_FROM_WIN32(ERROR_READ_FAULT) for anything else.
HRESULT ResultFromReadErrno(int err);

}  // namespace xmlutil::tool
