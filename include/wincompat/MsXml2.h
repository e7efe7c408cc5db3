// SPDX-License-Identifier: MIT
// <MsXml2.h>: the spelling Windows code often uses for <msxml2.h> (Windows file
// names ignore case; these do not).
#pragma once

#include "msxml2.h"
