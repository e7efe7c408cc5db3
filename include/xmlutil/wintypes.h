// SPDX-License-Identifier: MIT
// The Windows base types, result codes, GUIDs, IUnknown and COM runtime calls
// that code written against the Windows XML utility library expects, with the
// sizes and values it had there; the OLE Automation types (BSTR, VARIANT,
// SAFEARRAY, error objects) follow from automation.h, included at the end. The
// functions are provided by libxmlutil.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "export.h"

// ---- base integer types (Windows sizes: LONG and ULONG are 32 bits) --------
typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef long long LONGLONG;
typedef unsigned long long ULONGLONG;
typedef void* LPVOID;
typedef void* HINSTANCE;
typedef void* HANDLE;
typedef wchar_t WCHAR;
typedef wchar_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef int16_t VARIANT_BOOL;
#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

// ---- result codes ----------------------------------------------------------
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define XMLUTIL_HR(x) (static_cast<HRESULT>(static_cast<uint32_t>(x)))
#define S_OK XMLUTIL_HR(0x00000000)
#define S_FALSE XMLUTIL_HR(0x00000001)
#define E_NOTIMPL XMLUTIL_HR(0x80004001)
#define E_NOINTERFACE XMLUTIL_HR(0x80004002)
#define E_POINTER XMLUTIL_HR(0x80004003)
#define E_ABORT XMLUTIL_HR(0x80004004)
#define E_FAIL XMLUTIL_HR(0x80004005)
#define E_UNEXPECTED XMLUTIL_HR(0x8000FFFF)
#define E_ACCESSDENIED XMLUTIL_HR(0x80070005)
#define E_HANDLE XMLUTIL_HR(0x80070006)
#define E_OUTOFMEMORY XMLUTIL_HR(0x8007000E)
#define E_INVALIDARG XMLUTIL_HR(0x80070057)
#define E_PENDING XMLUTIL_HR(0x8000000A)
#define CLASS_E_NOAGGREGATION XMLUTIL_HR(0x80040110)
#define REGDB_E_CLASSNOTREG XMLUTIL_HR(0x80040154)
#define CO_E_NOTINITIALIZED XMLUTIL_HR(0x800401F0)
#define RPC_E_CHANGED_MODE XMLUTIL_HR(0x80010106)
#define CO_E_CLASSSTRING XMLUTIL_HR(0x800401F3)

#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_RPC 1
#define FACILITY_DISPATCH 2
#define FACILITY_ITF 4
#define FACILITY_WIN32 7
// An HRESULT from its severity bit, facility and code.
#define MAKE_HRESULT(sev, fac, code)                                       \
    (static_cast<HRESULT>((static_cast<uint32_t>(sev) << 31) |             \
                          ((static_cast<uint32_t>(fac) & 0x1FFFu) << 16) | \
                          (static_cast<uint32_t>(code) & 0xFFFFu)))
#define HRESULT_CODE(hr) (static_cast<uint32_t>(hr) & 0xFFFFu)
#define HRESULT_FACILITY(hr) ((static_cast<uint32_t>(hr) >> 16) & 0x1FFFu)
#define HRESULT_SEVERITY(hr) ((static_cast<uint32_t>(hr) >> 31) & 0x1u)
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INVALID_NAME 123L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILE_TOO_LARGE 223L
#define ERROR_DIRECTORY 267L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

inline constexpr HRESULT HRESULT_FROM_WIN32(long x) {
    return static_cast<HRESULT>(x) <= 0
               ? static_cast<HRESULT>(x)
               : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0x0000FFFFu) |
                                      (FACILITY_WIN32 << 16) | 0x80000000u);
}

// ---- GUIDs -----------------------------------------------------------------
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef const GUID& REFGUID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return IsEqualGUID(a, b);
}
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
    return !IsEqualGUID(a, b);
}

// __uuidof(Interface): each interface registers its IID with XMLUTIL_DEFINE_UUIDOF.
template <class T>
struct XmlutilInterfaceId;
#define XMLUTIL_DEFINE_UUIDOF(Iface, iid)                \
    template <>                                          \
    struct XmlutilInterfaceId<Iface> {                   \
        static const IID& get() noexcept { return iid; } \
    }
#ifndef __uuidof
#define __uuidof(T) (::XmlutilInterfaceId<std::remove_cv_t<T>>::get())
#endif

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// ---- IUnknown --------------------------------------------------------------
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

    template <class Q>
    HRESULT QueryInterface(Q** pp) {
        return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
    }
};
XMLUTIL_DEFINE_UUIDOF(IUnknown, IID_IUnknown);
typedef IUnknown* LPUNKNOWN;

// IID_PPV_ARGS(&p): the interface id of p's type and p as void**, for the
// (REFIID, void**) argument pairs of QueryInterface and CoCreateInstance.
template <class T>
void** IID_PPV_ARGS_Helper(T** pp) noexcept {
    static_assert(std::is_base_of_v<IUnknown, T>, "IID_PPV_ARGS needs an interface pointer");
    return reinterpret_cast<void**>(pp);
}
#define IID_PPV_ARGS(pp)                                                                      \
    ::XmlutilInterfaceId<std::remove_cv_t<std::remove_reference_t<decltype(**(pp))>>>::get(), \
        IID_PPV_ARGS_Helper(pp)

// ---- COM runtime -----------------------------------------------------------
enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
};
enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_ALL = 0x17,
};

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

extern "C" {
XMLUTIL_API HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
XMLUTIL_API HRESULT CoInitialize(LPVOID pvReserved);
XMLUTIL_API void CoUninitialize();
XMLUTIL_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                     REFIID riid, LPVOID* ppv);
// Task memory, shared between caller and callee: CoTaskMemAlloc answers null
// when out of memory; CoTaskMemFree ignores null; CoTaskMemRealloc keeps the
// block untouched and answers null when it cannot grow it.
XMLUTIL_API LPVOID CoTaskMemAlloc(size_t cb);
XMLUTIL_API LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb);
XMLUTIL_API void CoTaskMemFree(LPVOID pv);
// The class id of a ProgID the library serves ("Msxml2.DOMDocument",
// "Msxml2.DOMDocument.6.0", "Microsoft.XMLDOM", ..., in any case);
// CO_E_CLASSSTRING for any other, E_INVALIDARG for null arguments.
XMLUTIL_API HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
}

// ---- text conversion: every narrow code page is UTF-8 here ------------------
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008

extern "C" {
// Converts `cbMultiByte` bytes (-1: up to and including the NUL) of UTF-8 to
// wide text in `lpWideCharStr` (`cchWideChar` characters; 0: only measure).
// Answers the characters written (or needed); 0 for an unknown code page, a
// buffer too small, or (with MB_ERR_INVALID_CHARS) a malformed sequence,
// which otherwise becomes U+FFFD.
XMLUTIL_API int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr,
                                    int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
// Converts `cchWideChar` wide characters (-1: up to and including the NUL) to
// UTF-8 in `lpMultiByteStr` (`cbMultiByte` bytes; 0: only measure). Answers
// the bytes written (or needed); 0 for an unknown code page or a buffer too
// small. A code point that is no Unicode scalar value becomes U+FFFD; the
// default-character arguments are not used (*lpUsedDefaultChar is set to 0).
XMLUTIL_API int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                    int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                                    const char* lpDefaultChar, int* lpUsedDefaultChar);
}

#include "automation.h"
