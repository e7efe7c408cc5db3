// SPDX-License-Identifier: MIT
// Failure reasons handed to callers the COM way: as the calling thread's
// error object, which GetErrorInfo (and so _com_error::Description) reads.
#pragma once

#include <string>

#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

// Makes `reason` (UTF-8, one line) the calling thread's error object for a
// failure of the interface `iid`, source "xmlutil.DOMDocument". When it cannot
// be built (no memory), the thread is left with no error object rather than
// an older one.
void ReportFailure(REFIID iid, const std::string& reason) noexcept;

}  // namespace xmlutil::xmldom
