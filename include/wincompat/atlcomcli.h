// SPDX-License-Identifier: MIT
// <atlcomcli.h>: the ATL COM client classes, as <atlbase.h> brings them.
#pragma once

#include "atlbase.h"
