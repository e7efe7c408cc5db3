// SPDX-License-Identifier: MIT
// Symbol visibility: the library is built with hidden visibility, so only what
// carries XMLUTIL_API is exported. Callers see the same attribute, which keeps
// type information of exported classes identical on both sides.
#pragma once

#define XMLUTIL_API __attribute__((visibility("default")))
