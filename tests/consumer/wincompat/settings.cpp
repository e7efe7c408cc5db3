// SPDX-License-Identifier: MIT
// A settings reader and writer as a Windows developer writes it: comdef.h's
// _bstr_t, _variant_t and _com_error, CComVariant conversions, VARIANT
// fields, HRESULT checks with the named codes. Builds unchanged against
// xmlutil with the wincompat include folder.
#include <Windows.h>
#include <atlbase.h>
#include <atlcomcli.h>
#include <comdef.h>
#include <comutil.h>
#include <msxml6.h>
#include <oleauto.h>
#include <stdio.h>
#include <tchar.h>

#include "XMLUtil.h"

class CSettings {
  public:
    HRESULT Open() {
        HRESULT hr = m_pDoc.CoCreateInstance(CLSID_DOMDocument);
        if (FAILED(hr)) return hr;
        VARIANT_BOOL bOk = VARIANT_FALSE;
        hr = m_pDoc->loadXML(_bstr_t(L"<Settings/>"), &bOk);
        return bOk == VARIANT_TRUE ? S_OK : E_FAIL;
    }

    void Set(const _bstr_t& name, const _variant_t& value) {
        CComPtr<IXMLDOMElement> pRoot;
        HRESULT hr = m_pDoc->get_documentElement(&pRoot);
        if (FAILED(hr) || pRoot == NULL) _com_issue_error(E_UNEXPECTED);
        CComPtr<IXMLDOMElement> pItem;
        hr = m_pDoc->createElement(_bstr_t("Value"), &pItem);
        if (FAILED(hr)) _com_issue_error(hr);
        pItem->setAttribute(_bstr_t(L"name"), _variant_t(name));
        _variant_t text(value);
        text.ChangeType(VT_BSTR);
        pItem->put_text(text.bstrVal);
        CComPtr<IXMLDOMNode> pOut;
        hr = pRoot->appendChild(pItem, &pOut);
        if (FAILED(hr)) _com_issue_error(hr);
    }

    _variant_t Get(LPCTSTR szName) {
        _bstr_t query = _bstr_t(L"/Settings/Value[@name='") + szName + L"']";
        CComPtr<IXMLDOMNode> pNode;
        if (m_pDoc->selectSingleNode(query, &pNode) != S_OK) return _variant_t();
        CComBSTR bstrText;
        pNode->get_text(&bstrText);
        return _variant_t(bstrText.m_str);
    }

    _bstr_t Xml() {
        BSTR bstr = NULL;
        m_pDoc->get_xml(&bstr);
        return _bstr_t(bstr, false);
    }

  private:
    CComPtr<IXMLDOMDocument> m_pDoc;
};

int main() {
    _tsetlocale(LC_ALL, _T(".UTF8"));
    if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 1;
    int result = 0;
    try {
        CSettings settings;
        if (FAILED(settings.Open())) return 1;
        settings.Set(L"width", 1024L);
        settings.Set(L"ratio", 0.75);
        settings.Set(L"visible", true);
        settings.Set("title", "Caf\xC3\xA9");
        settings.Set(L"started", _variant_t(45352.5, VT_DATE));

        long width = settings.Get(_T("width"));
        double ratio = settings.Get(_T("ratio"));
        bool visible = settings.Get(_T("visible"));
        _bstr_t title = settings.Get(_T("title"));
        _tprintf(_T("width=%ld ratio=%g visible=%d title=%ls\n"), width, ratio, (int)visible,
                 (const wchar_t*)title);
        _tprintf(_T("utf8 title=%hs\n"), (const char*)title);

        CComVariant started(settings.Get(_T("started")));
        HRESULT hr = started.ChangeType(VT_DATE);
        _tprintf(_T("started ok=%d date=%g\n"), hr == S_OK, started.date);

        CComVariant missing(settings.Get(_T("missing")));
        _tprintf(_T("missing vt=%d\n"), (int)missing.vt);
        _tprintf(_T("%ls\n"), (const wchar_t*)settings.Xml());

        long bad = settings.Get(_T("title"));
        _tprintf(_T("unexpected %ld\n"), bad);
        result = 1;
    } catch (const _com_error& e) {
        _tprintf(_T("caught 0x%08X: %ls\n"), (unsigned)e.Error(), e.ErrorMessage());
    }
    CoUninitialize();
    return result;
}
