// SPDX-License-Identifier: MIT
#include "platform/com/variant_text.h"

#include <locale.h>
#include <stdlib.h>
#include <strings.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace xmlutil::com {
namespace {

constexpr long kFirstDay = -657434;      // 0100-01-01
constexpr long kLastDay = 2958465;       // 9999-12-31
constexpr long kEpochFromUnix = -25569;  // 1899-12-30 counted from 1970-01-01
constexpr long long kMillisPerDay = 86400000;

std::wstring Widen(const char* text, size_t length) {
    return std::wstring(text, text + length);
}

// The text as ASCII without the blanks around it; nothing when it holds
// anything but ASCII (no number or date does).
std::optional<std::string> TrimmedAscii(const std::wstring& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
    while (end > begin && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
    std::string ascii;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] <= 0 || text[i] > 0x7F) return std::nullopt;
        ascii += static_cast<char>(text[i]);
    }
    return ascii;
}

template <class T>
std::wstring ShortestText(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, static_cast<size_t>(result.ptr - buffer));
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// era-based algorithms of H. Hinnant's "chrono-compatible low-level date
// algorithms").
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

struct Civil {
    long year;
    unsigned month;
    unsigned day;
};

Civil CivilFromDays(long z) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<long>(yoe) + era * 400 + (month <= 2), month, day};
}

unsigned DaysInMonth(long year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads exactly `count` digits at `p`.
bool ReadDigits(const char*& p, const char* end, int count, long& value) {
    if (end - p < count) return false;
    value = 0;
    for (int i = 0; i < count; ++i, ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
    }
    return true;
}

bool ReadSeparator(const char*& p, const char* end, char separator) {
    if (p == end || *p != separator) return false;
    ++p;
    return true;
}

// "hh:mm[:ss[.fraction]]" as milliseconds since midnight.
bool ReadTimeOfDay(const char*& p, const char* end, long long& millis) {
    long hour = 0;
    long minute = 0;
    long second = 0;
    if (!ReadDigits(p, end, 2, hour) || !ReadSeparator(p, end, ':') ||
        !ReadDigits(p, end, 2, minute)) {
        return false;
    }
    long long fractionMillis = 0;
    if (p != end && *p == ':') {
        ++p;
        if (!ReadDigits(p, end, 2, second)) return false;
        if (p != end && *p == '.') {
            ++p;
            // Milliseconds from the first three digits, rounded by the fourth.
            const char* digits = p;
            long long scale = 100;
            while (p != end && *p >= '0' && *p <= '9') {
                const long digit = *p - '0';
                if (scale >= 1) fractionMillis += digit * scale;
                if (scale == 0 && p == digits + 3 && digit >= 5) ++fractionMillis;
                scale /= 10;
                ++p;
            }
            if (p == digits) return false;
        }
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    millis = ((hour * 60 + minute) * 60 + second) * 1000 + fractionMillis;
    return true;
}

}  // namespace

std::wstring TextOfInteger(LONGLONG value) {
    return std::to_wstring(value);
}
std::wstring TextOfUnsigned(ULONGLONG value) {
    return std::to_wstring(value);
}
std::wstring TextOfReal(double value) {
    return ShortestText(value);
}
std::wstring TextOfFloat(float value) {
    return ShortestText(value);
}

std::optional<NumberText> ReadNumber(const std::wstring& text) {
    const std::optional<std::string> ascii = TrimmedAscii(text);
    if (!ascii || ascii->empty()) return std::nullopt;
    const bool negative = (*ascii)[0] == '-';
    // from_chars takes a minus sign but no plus sign.
    const size_t start = (*ascii)[0] == '+' ? 1 : 0;
    const char* first = ascii->data() + start;
    const char* last = ascii->data() + ascii->size();
    if (first == last || *first == '+') return std::nullopt;
    NumberText number;
    if (negative) {
        const auto result = std::from_chars(first, last, number.integer);
        if (result.ec == std::errc() && result.ptr == last) {
            number.kind = NumberText::Kind::kSigned;
            return number;
        }
    } else if (*first != '-') {
        const auto result = std::from_chars(first, last, number.unsignedInteger);
        if (result.ec == std::errc() && result.ptr == last) {
            number.kind = NumberText::Kind::kUnsigned;
            return number;
        }
    }
    const auto result = std::from_chars(first, last, number.real);
    const bool outOfRange = result.ec == std::errc::result_out_of_range;
    if ((result.ec != std::errc() && !outOfRange) || result.ptr != last) return std::nullopt;
    if (outOfRange) {
        // Too large for a double reads as an infinity, too small as zero, so
        // that the overflow is reported by the type it is converted to;
        // strtod_l in the C locale tells which.
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
        number.real = strtod_l(std::string(first, last).c_str(), nullptr, cLocale);
    }
    number.kind = NumberText::Kind::kReal;
    return number;
}

std::optional<bool> ReadBool(const std::wstring& text) {
    const std::optional<std::string> ascii = TrimmedAscii(text);
    if (!ascii) return std::nullopt;
    if (strcasecmp(ascii->c_str(), "true") == 0) return true;
    if (strcasecmp(ascii->c_str(), "false") == 0) return false;
    const std::optional<NumberText> number = ReadNumber(text);
    if (!number) return std::nullopt;
    switch (number->kind) {
        case NumberText::Kind::kSigned:
            return number->integer != 0;
        case NumberText::Kind::kUnsigned:
            return number->unsignedInteger != 0;
        case NumberText::Kind::kReal:
            break;
    }
    return number->real != 0;
}

bool IsDateInRange(double date) {
    return date > kFirstDay - 1 && date < kLastDay + 1;
}

HRESULT TextOfDate(DATE date, std::wstring& text) {
    if (!IsDateInRange(date)) return DISP_E_OVERFLOW;
    const double wholeDays = std::trunc(date);
    long day = static_cast<long>(wholeDays);
    long long millis = std::llround(std::fabs(date - wholeDays) * kMillisPerDay);
    if (millis >= kMillisPerDay) {  // rounded up to the next midnight
        millis -= kMillisPerDay;
        ++day;
    }
    const Civil civil = CivilFromDays(day + kEpochFromUnix);
    char buffer[64];
    int length =
        std::snprintf(buffer, sizeof buffer, "%04ld-%02u-%02u", civil.year, civil.month, civil.day);
    if (millis != 0) {
        const long long seconds = millis / 1000;
        length +=
            std::snprintf(buffer + length, sizeof buffer - static_cast<size_t>(length),
                          "T%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
        if (millis % 1000 != 0) {
            length += std::snprintf(buffer + length, sizeof buffer - static_cast<size_t>(length),
                                    ".%03lld", millis % 1000);
        }
    }
    text = Widen(buffer, static_cast<size_t>(length));
    return S_OK;
}

HRESULT ReadDate(const std::wstring& text, DATE& date) {
    const std::optional<std::string> ascii = TrimmedAscii(text);
    if (!ascii) return DISP_E_TYPEMISMATCH;
    const char* p = ascii->data();
    const char* end = p + ascii->size();
    long year = 0;
    long month = 0;
    long day = 0;
    if (!ReadDigits(p, end, 4, year) || !ReadSeparator(p, end, '-') ||
        !ReadDigits(p, end, 2, month) || !ReadSeparator(p, end, '-') ||
        !ReadDigits(p, end, 2, day)) {
        return DISP_E_TYPEMISMATCH;
    }
    if (month < 1 || month > 12 || day < 1 ||
        day > static_cast<long>(DaysInMonth(year, static_cast<unsigned>(month)))) {
        return DISP_E_TYPEMISMATCH;
    }
    long long millis = 0;
    if (p != end) {
        if (*p != 'T' && *p != 't' && *p != ' ') return DISP_E_TYPEMISMATCH;
        ++p;
        if (!ReadTimeOfDay(p, end, millis) || p != end) return DISP_E_TYPEMISMATCH;
    }
    if (year < 100) return DISP_E_OVERFLOW;
    const long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kEpochFromUnix;
    const double time = static_cast<double>(millis) / kMillisPerDay;
    date = days >= 0 ? days + time : days - time;
    return S_OK;
}

}  // namespace xmlutil::com
