// SPDX-License-Identifier: MIT
// <oleauto.h>: BSTR, VARIANT and VariantChangeType, SAFEARRAY, error objects.
#pragma once

#include "windows.h"
