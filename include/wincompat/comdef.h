// SPDX-License-Identifier: MIT
// <comdef.h>: the COM support classes of <comutil.h> and the COM runtime.
#pragma once

#include "comutil.h"
#include "objbase.h"
