// SPDX-License-Identifier: MIT
// The OLE Automation types and calls that code around the DOM uses: BSTR
// strings, VARIANT values and their conversions, SAFEARRAY byte vectors,
// IDispatch and the per-thread error object (IErrorInfo). wintypes.h includes
// this header at its end, and this one includes wintypes.h first, so either
// may be included alone. The functions are provided by libxmlutil.
#pragma once

#include "wintypes.h"

typedef double DATE;  // days since 1899-12-30; the fraction is the time of day
typedef LONG SCODE;
typedef DWORD LCID;
typedef LONG DISPID;
typedef double DOUBLE;
typedef float FLOAT;

#define DISP_E_UNKNOWNINTERFACE XMLUTIL_HR(0x80020001)
#define DISP_E_MEMBERNOTFOUND XMLUTIL_HR(0x80020003)
#define DISP_E_PARAMNOTFOUND XMLUTIL_HR(0x80020004)
#define DISP_E_TYPEMISMATCH XMLUTIL_HR(0x80020005)
#define DISP_E_UNKNOWNNAME XMLUTIL_HR(0x80020006)
#define DISP_E_BADVARTYPE XMLUTIL_HR(0x80020008)
#define DISP_E_EXCEPTION XMLUTIL_HR(0x80020009)
#define DISP_E_OVERFLOW XMLUTIL_HR(0x8002000A)
#define DISP_E_BADINDEX XMLUTIL_HR(0x8002000B)
#define DISP_E_ARRAYISLOCKED XMLUTIL_HR(0x8002000D)
#define DISP_E_BADPARAMCOUNT XMLUTIL_HR(0x8002000E)

// ---- BSTR: a length-prefixed wide string; a null BSTR reads as "" ---------
typedef OLECHAR* BSTR;

extern "C" {
// A new BSTR holding `psz` up to its NUL; null for a null `psz` or when out of memory.
XMLUTIL_API BSTR SysAllocString(const OLECHAR* psz);
// A new BSTR of `ui` characters copied from `strIn` (zeros when null); null when out of memory.
XMLUTIL_API BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// A new BSTR whose byte length is `len`, copied from `psz` (zeros when null);
// an odd count leaves half a character. Null when out of memory.
XMLUTIL_API BSTR SysAllocStringByteLen(const char* psz, UINT len);
// Replaces *pbstr by a copy of `psz`; FALSE (and *pbstr unchanged) when out of memory.
XMLUTIL_API int SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
// Replaces *pbstr by `len` characters of `psz` (which may lie inside *pbstr);
// FALSE (and *pbstr unchanged) when out of memory.
XMLUTIL_API int SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
XMLUTIL_API UINT SysStringLen(BSTR pbstr);
XMLUTIL_API UINT SysStringByteLen(BSTR bstr);
XMLUTIL_API void SysFreeString(BSTR bstrString);
}

// ---- VARIANT types -----------------------------------------------------------
typedef uint16_t VARTYPE;
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

// ---- IDispatch (declared so that code passing objects as IDispatch* compiles)
struct ITypeInfo;
struct VARIANT;
typedef VARIANT VARIANTARG;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) = 0;
};
XMLUTIL_DEFINE_UUIDOF(IDispatch, IID_IDispatch);
typedef IDispatch* LPDISPATCH;

// ---- SAFEARRAY: one-dimensional arrays of bytes (VT_UI1) ----------------------
struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};
typedef SAFEARRAY* LPSAFEARRAY;

extern "C" {
// A vector of `cElements` zeroed elements indexed from `lLbound`; only VT_UI1
// (and VT_I1) elements are supported. Null for another type or when out of memory.
XMLUTIL_API SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Frees the array and its data; DISP_E_ARRAYISLOCKED while its data is accessed.
XMLUTIL_API HRESULT SafeArrayDestroy(SAFEARRAY* psa);
// Locks the array and gives its data; E_INVALIDARG for null arguments.
XMLUTIL_API HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
// Undoes one SafeArrayAccessData; E_UNEXPECTED when the array is not locked.
XMLUTIL_API HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// The lowest / highest index of dimension `nDim` (1-based); DISP_E_BADINDEX
// for another dimension. The upper bound of an empty vector is lLbound - 1.
XMLUTIL_API HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
XMLUTIL_API HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// Number of dimensions (0 for null).
XMLUTIL_API UINT SafeArrayGetDim(SAFEARRAY* psa);
// Bytes per element (0 for null).
XMLUTIL_API UINT SafeArrayGetElemsize(SAFEARRAY* psa);
// A new array with the same bounds and a copy of the data; E_OUTOFMEMORY.
XMLUTIL_API HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
}

// ---- VARIANT ---------------------------------------------------------------
// 16 bytes: the type, three reserved words and one value.
struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        char cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        int intVal;
        unsigned int uintVal;
        BYTE* pbVal;
        LONG* plVal;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
        void* byref;
    };
};

#define V_VT(v) ((v)->vt)
#define V_ISARRAY(v) (((v)->vt & VT_ARRAY) != 0)
#define V_ISBYREF(v) (((v)->vt & VT_BYREF) != 0)
#define V_BSTR(v) ((v)->bstrVal)
#define V_I1(v) ((v)->cVal)
#define V_I2(v) ((v)->iVal)
#define V_I4(v) ((v)->lVal)
#define V_I8(v) ((v)->llVal)
#define V_UI1(v) ((v)->bVal)
#define V_UI2(v) ((v)->uiVal)
#define V_UI4(v) ((v)->ulVal)
#define V_UI8(v) ((v)->ullVal)
#define V_INT(v) ((v)->intVal)
#define V_UINT(v) ((v)->uintVal)
#define V_R4(v) ((v)->fltVal)
#define V_R8(v) ((v)->dblVal)
#define V_DATE(v) ((v)->date)
#define V_BOOL(v) ((v)->boolVal)
#define V_ERROR(v) ((v)->scode)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_ARRAY(v) ((v)->parray)
#define V_BYREF(v) ((v)->byref)

// Flags of VariantChangeType.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

extern "C" {
XMLUTIL_API void VariantInit(VARIANT* pvarg);
// Frees what the variant owns (BSTR, interface reference, array) and makes it
// VT_EMPTY; E_INVALIDARG for null, DISP_E_ARRAYISLOCKED for an accessed array.
XMLUTIL_API HRESULT VariantClear(VARIANT* pvarg);
// Clears `pvargDest`, then makes it a copy of `pvargSrc` (a new BSTR, an added
// reference, a copied array); E_OUTOFMEMORY leaves `pvargDest` unchanged.
XMLUTIL_API HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);
// Converts `pvarSrc` to type `vt` into `pvargDest` (which may be `pvarSrc`).
// Texts, the same in every locale:
// - numbers: decimal in the C locale; a VT_R4 or VT_R8 value is the
//   shortest text that reads back as the same value ("0.1", "1e+20", "-2.5");
//   reading accepts surrounding blanks, a sign and an exponent;
// - booleans: "-1" and "0" ("True" and "False" with VARIANT_ALPHABOOL); reading
//   accepts "True"/"False" in any case and any number (non-zero is true);
// - dates: ISO 8601, "YYYY-MM-DD", or "YYYY-MM-DDThh:mm:ss[.fff]" when there
//   is a time of day; reading also accepts a space for the "T" and "hh:mm";
//   years 100 to 9999.
// Between numbers: a fraction becomes an integer rounded half to even; true
// is -1 (all bits set in an unsigned type); a date is its day count.
// VT_EMPTY converts to 0, "" or false; VT_NULL converts to nothing but itself;
// VT_UNKNOWN and VT_DISPATCH convert to each other through QueryInterface.
// DISP_E_TYPEMISMATCH for text that does not read as the type or a pair of
// types that does not convert, DISP_E_OVERFLOW for a value out of the type's
// range, DISP_E_BADVARTYPE for an unknown type, E_OUTOFMEMORY. On failure
// `pvargDest` is unchanged.
XMLUTIL_API HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags,
                                      VARTYPE vt);
// VariantChangeType; the locale is not used (the texts are the same in all).
XMLUTIL_API HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID lcid,
                                        USHORT wFlags, VARTYPE vt);
}

// ---- error objects: the description of the last failure on this thread ----
inline constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// Read side of an error object. Strings are new BSTRs the caller frees.
struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};

// Write side of an error object made by CreateErrorInfo. E_OUTOFMEMORY.
struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
};

// Implemented by objects that set error objects for an interface's failures.
struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

XMLUTIL_DEFINE_UUIDOF(IErrorInfo, IID_IErrorInfo);
XMLUTIL_DEFINE_UUIDOF(ICreateErrorInfo, IID_ICreateErrorInfo);
XMLUTIL_DEFINE_UUIDOF(ISupportErrorInfo, IID_ISupportErrorInfo);

extern "C" {
// A new, empty error object (it also answers IErrorInfo); E_OUTOFMEMORY,
// E_INVALIDARG for null.
XMLUTIL_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Makes `perrinfo` (null clears) this thread's error object, replacing the
// previous one; `dwReserved` must be 0 (else E_INVALIDARG).
XMLUTIL_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands over this thread's error object and clears it: S_OK with the object,
// S_FALSE with null when there is none; E_INVALIDARG for a null out-pointer.
XMLUTIL_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
}
