// SPDX-License-Identifier: MIT
// "XMLUtil.h" as Windows programs include it: CXMLUtil and LoadMenuXml, with
// the Windows, ATL, COM support and DOM names their code uses around them.
#pragma once

#include <xmlutil/XMLUtil.h>

#include "atlbase.h"
#include "comdef.h"
#include "msxml2.h"
#include "windows.h"
