// SPDX-License-Identifier: MIT
// <tchar.h> for a Unicode build: TCHAR is wchar_t, _T("x") is L"x", and the
// _t/_tcs names map to the wide C library functions (the MSVC-only ones are
// defined here on top of glibc). Narrow strings, file names included, are
// UTF-8.
#pragma once

#include <strings.h>
#include <xmlutil/comutil.h>
#include <xmlutil/wintypes.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

typedef wchar_t TCHAR;
typedef wchar_t _TCHAR;
typedef wchar_t _TSCHAR;
typedef wint_t _TINT;
typedef int errno_t;
typedef TCHAR* LPTSTR;
typedef TCHAR* PTSTR;
typedef const TCHAR* LPCTSTR;
typedef const TCHAR* PCTSTR;

#define __T(x) L##x
#define _T(x) __T(x)
#define _TEXT(x) __T(x)
#ifndef TEXT
#define TEXT(x) __T(x)
#endif
#define _TEOF WEOF

// ---- MSVC runtime functions glibc lacks --------------------------------------
inline int _wcsicmp(const wchar_t* a, const wchar_t* b) {
    return wcscasecmp(a, b);
}
inline int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t n) {
    return wcsncasecmp(a, b, n);
}
inline int _stricmp(const char* a, const char* b) {
    return strcasecmp(a, b);
}
inline int _strnicmp(const char* a, const char* b, size_t n) {
    return strncasecmp(a, b, n);
}
inline wchar_t* _wcsdup(const wchar_t* s) {
    return wcsdup(s);
}
inline char* _strdup(const char* s) {
    return strdup(s);
}
inline int _wtoi(const wchar_t* s) {
    return static_cast<int>(std::wcstol(s, nullptr, 10));
}
inline long _wtol(const wchar_t* s) {
    return std::wcstol(s, nullptr, 10);
}
inline long long _wtoi64(const wchar_t* s) {
    return std::wcstoll(s, nullptr, 10);
}
inline double _wtof(const wchar_t* s) {
    return std::wcstod(s, nullptr);
}
inline wchar_t* _wcslwr(wchar_t* s) {
    for (wchar_t* p = s; *p != L'\0'; ++p) *p = static_cast<wchar_t>(std::towlower(*p));
    return s;
}
inline wchar_t* _wcsupr(wchar_t* s) {
    for (wchar_t* p = s; *p != L'\0'; ++p) *p = static_cast<wchar_t>(std::towupper(*p));
    return s;
}
inline int _putws(const wchar_t* s) {
    return std::fputws(s, stdout) < 0 || std::fputwc(L'\n', stdout) == WEOF ? WEOF : 0;
}
// Opens, removes and renames files named by wide paths (as UTF-8 file names).
inline FILE* _wfopen(const wchar_t* path, const wchar_t* mode) {
    return std::fopen(xmlutil_detail::Utf8FromWide(path).c_str(),
                      xmlutil_detail::Utf8FromWide(mode).c_str());
}
inline int _wremove(const wchar_t* path) {
    return std::remove(xmlutil_detail::Utf8FromWide(path).c_str());
}
inline int _wrename(const wchar_t* from, const wchar_t* to) {
    return std::rename(xmlutil_detail::Utf8FromWide(from).c_str(),
                       xmlutil_detail::Utf8FromWide(to).c_str());
}

// setlocale with wide names; ".UTF8" (the MSVC runtime's UTF-8 locale) is
// C.UTF-8 here. The name returned lives until the thread's next call.
inline wchar_t* _wsetlocale(int category, const wchar_t* locale) {
    static thread_local std::wstring current;
    std::string name;
    if (locale != nullptr) {
        name = xmlutil_detail::Utf8FromWide(locale);
        if (name == ".UTF8" || name == ".UTF-8" || name == ".utf8") name = "C.UTF-8";
    }
    const char* set = std::setlocale(category, locale == nullptr ? nullptr : name.c_str());
    if (set == nullptr) return nullptr;
    current = xmlutil_detail::WideFromUtf8(set);
    return current.data();
}

// The bounded copies: ERANGE (and an empty destination) when the text does
// not fit, EINVAL for null arguments.
inline errno_t wcscpy_s(wchar_t* dest, size_t size, const wchar_t* source) {
    if (dest == nullptr || size == 0) return EINVAL;
    if (source == nullptr) {
        dest[0] = L'\0';
        return EINVAL;
    }
    const size_t length = std::wcslen(source);
    if (length >= size) {
        dest[0] = L'\0';
        return ERANGE;
    }
    std::wmemcpy(dest, source, length + 1);
    return 0;
}
inline errno_t wcscat_s(wchar_t* dest, size_t size, const wchar_t* source) {
    if (dest == nullptr || size == 0) return EINVAL;
    const size_t used = wcsnlen(dest, size);
    if (used == size) return EINVAL;  // no terminator: not a string
    const errno_t result = wcscpy_s(dest + used, size - used, source);
    if (result != 0) dest[0] = L'\0';
    return result;
}
template <size_t N>
errno_t wcscpy_s(wchar_t (&dest)[N], const wchar_t* source) {
    return wcscpy_s(dest, N, source);
}
template <size_t N>
errno_t wcscat_s(wchar_t (&dest)[N], const wchar_t* source) {
    return wcscat_s(dest, N, source);
}
// swprintf with the buffer's size known; -1 when the text does not fit.
template <class... Args>
int swprintf_s(wchar_t* buffer, size_t size, const wchar_t* format, Args... args) {
    return std::swprintf(buffer, size, format, args...);
}
template <size_t N, class... Args>
int swprintf_s(wchar_t (&buffer)[N], const wchar_t* format, Args... args) {
    return std::swprintf(buffer, N, format, args...);
}
// MSVC's swprintf without a size, for array buffers.
template <size_t N, class... Args>
int _swprintf(wchar_t (&buffer)[N], const wchar_t* format, Args... args) {
    return std::swprintf(buffer, N, format, args...);
}

// ---- the _t names ----------------------------------------------------------
#define _tmain wmain
#define _tsetlocale _wsetlocale
#define _tprintf wprintf
#define _ftprintf fwprintf
#define _stprintf _swprintf
#define _stprintf_s swprintf_s
#define _sntprintf swprintf
#define _snwprintf swprintf
#define _vtprintf vwprintf
#define _vftprintf vfwprintf
#define _tscanf wscanf
#define _ftscanf fwscanf
#define _stscanf swscanf
#define _tcslen wcslen
#define _tcsnlen wcsnlen
#define _tcscpy wcscpy
#define _tcscpy_s wcscpy_s
#define _tcsncpy wcsncpy
#define _tcscat wcscat
#define _tcscat_s wcscat_s
#define _tcsncat wcsncat
#define _tcscmp wcscmp
#define _tcsncmp wcsncmp
#define _tcsicmp _wcsicmp
#define _tcsnicmp _wcsnicmp
#define _tcscoll wcscoll
#define _tcschr wcschr
#define _tcsrchr wcsrchr
#define _tcsstr wcsstr
#define _tcsspn wcsspn
#define _tcscspn wcscspn
#define _tcspbrk wcspbrk
#define _tcsdup _wcsdup
#define _tcslwr _wcslwr
#define _tcsupr _wcsupr
#define _tcsftime wcsftime
#define _tcstol wcstol
#define _tcstoul wcstoul
#define _tcstoi64 wcstoll
#define _tcstoui64 wcstoull
#define _tcstod wcstod
#define _ttoi _wtoi
#define _ttol _wtol
#define _tstoi _wtoi
#define _tstol _wtol
#define _ttoi64 _wtoi64
#define _tstof _wtof
#define _fgetts fgetws
#define _fputts fputws
#define _fgettc fgetwc
#define _fputtc fputwc
#define _gettc getwc
#define _puttc putwc
#define _gettchar getwchar
#define _puttchar putwchar
#define _putts _putws
#define _tfopen _wfopen
#define _tremove _wremove
#define _trename _wrename
#define _istalpha iswalpha
#define _istalnum iswalnum
#define _istdigit iswdigit
#define _istxdigit iswxdigit
#define _istspace iswspace
#define _istupper iswupper
#define _istlower iswlower
#define _istpunct iswpunct
#define _istprint iswprint
#define _totupper towupper
#define _totlower towlower
