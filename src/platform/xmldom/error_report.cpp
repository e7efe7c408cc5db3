// SPDX-License-Identifier: MIT
#include "platform/xmldom/error_report.h"

#include <new>

#include "platform/xmldom/utf.h"
#include "xmlutil/atl.h"

namespace xmlutil::xmldom {

namespace {

HRESULT MakeErrorObject(REFIID iid, const std::string& reason, IErrorInfo** out) {
    std::wstring description;
    AppendWideFromUtf8(reason.c_str(), description);
    std::wstring source = L"xmlutil.DOMDocument";
    CComPtr<ICreateErrorInfo> made;
    HRESULT hr = CreateErrorInfo(&made);
    if (FAILED(hr)) return hr;
    made->SetGUID(iid);
    hr = made->SetSource(source.data());
    if (SUCCEEDED(hr)) hr = made->SetDescription(description.data());
    if (FAILED(hr)) return hr;
    return made->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(out));
}

}  // namespace

void ReportFailure(REFIID iid, const std::string& reason) noexcept {
    CComPtr<IErrorInfo> info;
    try {
        if (FAILED(MakeErrorObject(iid, reason, &info))) info.Release();
    } catch (const std::bad_alloc&) {
        info.Release();
    }
    SetErrorInfo(0, info);
}

}  // namespace xmlutil::xmldom
