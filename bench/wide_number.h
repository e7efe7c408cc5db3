// SPDX-License-Identifier: MIT
// Number formatting shared by the build jobs.
#pragma once

#include <charconv>
#include <string>

// The decimal digits of `n` as wide text, made the way std::to_string makes
// narrow text. std::to_wstring goes through swprintf, several times slower:
// the build jobs give xmlutil and plain libxml2 the same formatting work, so
// that neither side's timing carries the other's number printing.
inline std::wstring WideNumber(int n) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    return std::wstring(digits, end);
}
