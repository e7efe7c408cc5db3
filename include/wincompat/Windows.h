// SPDX-License-Identifier: MIT
// <Windows.h>: the spelling Windows code often uses for <windows.h> (Windows file
// names ignore case; these do not).
#pragma once

#include "windows.h"
