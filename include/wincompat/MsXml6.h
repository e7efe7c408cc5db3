// SPDX-License-Identifier: MIT
// <MsXml6.h>: the spelling Windows code often uses for <msxml6.h> (Windows file
// names ignore case; these do not).
#pragma once

#include "msxml6.h"
