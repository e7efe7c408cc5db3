// SPDX-License-Identifier: MIT
// <msxml.h>: the XML DOM interfaces and the document class the library serves.
#pragma once

#include <xmlutil/msxml.h>

#include "oleauto.h"
#include "windows.h"
