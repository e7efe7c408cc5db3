// SPDX-License-Identifier: MIT
// <comutil.h>: _bstr_t, _variant_t, _com_error and _com_issue_error.
#pragma once

#include <xmlutil/comutil.h>

#include "oleauto.h"
#include "windows.h"
