// SPDX-License-Identifier: MIT
// <windows.h> for code ported from Windows: the types, result codes and COM
// calls of <xmlutil/wintypes.h>, and the Windows names such code uses around
// them that a program which did not ask for them must not get: BOOL, the
// TCHAR family (tchar.h), MAX_PATH, the narrow and pointer-sized types, the
// common ERROR_* codes, and the calling-convention and SAL annotations (empty
// here). Only on the include path of programs that use xmlutil::wincompat or
// pkg-config xmlutil-wincompat.
#pragma once

#include <xmlutil/wintypes.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

// ---- types -----------------------------------------------------------------
typedef int BOOL;
typedef BOOL* PBOOL;
typedef BOOL* LPBOOL;
typedef unsigned char BOOLEAN;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef int INT;
typedef unsigned int* PUINT;
typedef CHAR* LPSTR;
typedef CHAR* PSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* PCSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef WORD* PWORD;
typedef WORD* LPWORD;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef LONG* LPLONG;
typedef ULONG* PULONG;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef int32_t INT32;
typedef uint32_t UINT32;
typedef int64_t INT64;
typedef uint64_t UINT64;
typedef ULONGLONG DWORDLONG;
typedef ULONGLONG DWORD64;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef ptrdiff_t SSIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef HANDLE HMODULE;
typedef HANDLE HWND;
typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define INFINITE 0xFFFFFFFF

// ---- calling conventions and annotations: nothing on this platform ---------
#ifndef WINAPI
#define WINAPI
#endif
#ifndef APIENTRY
#define APIENTRY
#endif
#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef __stdcall
#define __stdcall
#endif
#ifndef __cdecl
#define __cdecl
#endif
#ifndef _In_
#define _In_
#define _In_opt_
#define _In_z_
#define _In_opt_z_
#define _In_reads_(n)
#define _In_reads_bytes_(n)
#define _Out_
#define _Out_opt_
#define _Out_writes_(n)
#define _Out_writes_z_(n)
#define _Out_writes_bytes_(n)
#define _Inout_
#define _Inout_opt_
#define _Inout_updates_(n)
#define _Outptr_
#define _Outptr_opt_
#define _Outptr_result_maybenull_
#define _Ret_maybenull_
#define _Check_return_
#define _Success_(expr)
#define _Printf_format_string_
#endif

// ---- small helpers ---------------------------------------------------------
#define UNREFERENCED_PARAMETER(P) ((void)(P))
template <class T, size_t N>
char (&XmlutilArraySizeHelper(T (&)[N]))[N];
#define ARRAYSIZE(a) (sizeof(XmlutilArraySizeHelper(a)))
#ifndef _countof
#define _countof(a) ARRAYSIZE(a)
#endif
#define ZeroMemory(dest, bytes) std::memset((dest), 0, (bytes))
#define SecureZeroMemory(dest, bytes) std::memset((dest), 0, (bytes))
#define FillMemory(dest, bytes, fill) std::memset((dest), (fill), (bytes))
#define CopyMemory(dest, source, bytes) std::memcpy((dest), (source), (bytes))
#define MoveMemory(dest, source, bytes) std::memmove((dest), (source), (bytes))
#define LOBYTE(w) (static_cast<BYTE>(static_cast<DWORD_PTR>(w) & 0xFF))
#define HIBYTE(w) (static_cast<BYTE>((static_cast<DWORD_PTR>(w) >> 8) & 0xFF))
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xFFFF))
#define MAKEWORD(a, b) (static_cast<WORD>(LOBYTE(a) | (static_cast<WORD>(LOBYTE(b)) << 8)))
#define MAKELONG(a, b) \
    (static_cast<LONG>(static_cast<DWORD>(LOWORD(a)) | (static_cast<DWORD>(LOWORD(b)) << 16)))

// ---- system error codes (those of <xmlutil/wintypes.h> are not repeated) ---
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_ARENA_TRASHED 7L
#define ERROR_INVALID_BLOCK 9L
#define ERROR_BAD_ENVIRONMENT 10L
#define ERROR_BAD_FORMAT 11L
#define ERROR_INVALID_ACCESS 12L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_DRIVE 15L
#define ERROR_CURRENT_DIRECTORY 16L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_BAD_UNIT 20L
#define ERROR_NOT_READY 21L
#define ERROR_BAD_COMMAND 22L
#define ERROR_CRC 23L
#define ERROR_BAD_LENGTH 24L
#define ERROR_SEEK 25L
#define ERROR_NOT_DOS_DISK 26L
#define ERROR_SECTOR_NOT_FOUND 27L
#define ERROR_OUT_OF_PAPER 28L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_WRONG_DISK 34L
#define ERROR_SHARING_BUFFER_EXCEEDED 36L
#define ERROR_HANDLE_EOF 38L
#define ERROR_BAD_NETPATH 53L
#define ERROR_NETWORK_BUSY 54L
#define ERROR_DEV_NOT_EXIST 55L
#define ERROR_BAD_NET_NAME 67L
#define ERROR_CANNOT_MAKE 82L
#define ERROR_INVALID_PASSWORD 86L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_OPEN_FAILED 110L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_LEVEL 124L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_SEEK_ON_DEVICE 132L
#define ERROR_DIR_NOT_ROOT 144L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_PATH_BUSY 148L
#define ERROR_NOT_LOCKED 158L
#define ERROR_BAD_ARGUMENTS 160L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_BUSY 170L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_BAD_PIPE 230L
#define ERROR_PIPE_BUSY 231L
#define ERROR_NO_DATA 232L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_CANNOT_COPY 266L
#define ERROR_PARTIAL_COPY 299L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_ARITHMETIC_OVERFLOW 534L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_IO_PENDING 997L
#define ERROR_NOACCESS 998L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_FILE_INVALID 1006L
#define ERROR_NOT_FOUND 1168L
#define ERROR_CANCELLED 1223L
#define ERROR_INTERNAL_ERROR 1359L
#define ERROR_TIMEOUT 1460L

#include "tchar.h"
