// SPDX-License-Identifier: MIT
// The texts VariantChangeType writes and reads for numbers, booleans and
// dates: the same in every locale, and each written text reads back as the
// value it was written from.
#pragma once

#include <optional>
#include <string>

#include "xmlutil/wintypes.h"

namespace xmlutil::com {

// A number read from text: exact when it was written as an integer that fits
// in 64 bits (signed or not), otherwise as a double.
struct NumberText {
    enum class Kind { kSigned, kUnsigned, kReal } kind = Kind::kReal;
    LONGLONG integer = 0;
    ULONGLONG unsignedInteger = 0;
    double real = 0;
};

// Decimal integers, and the shortest C-locale text that reads back as the
// same double or float ("0.1", "1e+20", "nan", "inf").
std::wstring TextOfInteger(LONGLONG value);
std::wstring TextOfUnsigned(ULONGLONG value);
std::wstring TextOfReal(double value);
std::wstring TextOfFloat(float value);

// Reads `text` (blanks around it allowed, an optional sign, a fraction and
// an exponent); nothing when it is not one number.
std::optional<NumberText> ReadNumber(const std::wstring& text);

// "True"/"False" in any case, or any number (non-zero is true).
std::optional<bool> ReadBool(const std::wstring& text);

// Days since 1899-12-30 with the time of day as fraction (before that day the
// fraction counts forwards from the day's start, as in VT_DATE), to and from
// ISO 8601 text: "YYYY-MM-DD" or "YYYY-MM-DDThh:mm:ss[.fff]". Only years 100
// to 9999 are dates: DISP_E_OVERFLOW outside, DISP_E_TYPEMISMATCH for text
// that is no such date.
bool IsDateInRange(double date);
HRESULT TextOfDate(DATE date, std::wstring& text);
HRESULT ReadDate(const std::wstring& text, DATE& date);

}  // namespace xmlutil::com
