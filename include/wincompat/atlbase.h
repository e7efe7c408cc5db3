// SPDX-License-Identifier: MIT
// <atlbase.h>: CComPtr, CComQIPtr, CComBSTR, CComVariant, the text
// conversion classes (CW2A, CA2W and their TCHAR names) and ATLASSERT.
#pragma once

#include <xmlutil/atl.h>

#include "objbase.h"
#include "oleauto.h"
#include "windows.h"

// TCHAR is wchar_t: the T conversions are the wide ones.
typedef CW2A CT2A;
typedef CW2A CT2CA;
typedef CA2W CA2T;
typedef CA2W CA2CT;
typedef CW2W CW2T;
typedef CW2W CW2CT;
typedef CW2W CT2W;
typedef CW2W CT2CW;
typedef CW2A CW2CA;
typedef CA2W CA2CW;
#ifndef USES_CONVERSION
#define USES_CONVERSION
#endif
