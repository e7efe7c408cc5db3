// SPDX-License-Identifier: MIT
// <objbase.h>: the COM runtime (CoInitializeEx, CoCreateInstance, task
// memory) and the macros COM interfaces are declared with.
#pragma once

#include "windows.h"

#define STDMETHODCALLTYPE
#define STDMETHODVCALLTYPE
#define STDAPICALLTYPE
#define STDAPI extern "C" HRESULT
#define STDAPI_(type) extern "C" type
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type
#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method
#define PURE = 0
#ifndef interface
#define interface struct
#endif
