// SPDX-License-Identifier: MIT
// A menu report as a Windows developer writes it: the Windows include lines,
// TCHAR text, CComPtr/CComQIPtr handles compared with NULL, CComBSTR and
// CComVariant arguments, LONG counts. Builds unchanged against xmlutil with
// the wincompat include folder.
#include <atlbase.h>
#include <msxml2.h>
#include <objbase.h>
#include <stdio.h>
#include <tchar.h>
#include <windows.h>

#include "XMLUtil.h"

static void PrintAttribute(IXMLDOMElement* pElement, LPCTSTR szName) {
    CComVariant value;
    HRESULT hr = pElement->getAttribute(CComBSTR(szName), &value);
    if (hr == S_OK && value.vt == VT_BSTR) _tprintf(_T(" %ls=%ls"), szName, value.bstrVal);
}

static HRESULT ReportItems(IXMLDOMDocument* pDoc) {
    CComPtr<IXMLDOMNodeList> pItems;
    HRESULT hr = pDoc->selectNodes(CComBSTR(L"/Root/Menu/Item"), &pItems);
    if (FAILED(hr) || pItems == NULL) return E_FAIL;
    LONG lCount = 0;
    hr = pItems->get_length(&lCount);
    if (FAILED(hr)) return hr;
    _tprintf(_T("items: %d\n"), (int)lCount);
    for (LONG i = 0; i < lCount; i++) {
        CComPtr<IXMLDOMNode> pNode;
        if (pItems->get_item(i, &pNode) != S_OK || pNode == 0) continue;
        CComQIPtr<IXMLDOMElement> pElement(pNode);
        if (pElement == NULL) continue;
        CComBSTR bstrName;
        CComPtr<IXMLDOMNode> pNameNode;
        if (pNode->selectSingleNode(CComBSTR(L"Name"), &pNameNode) == S_OK)
            pNameNode->get_text(&bstrName);
        _tprintf(_T("%d %ls"), (int)i, bstrName.m_str);
        PrintAttribute(pElement, _T("id"));
        PrintAttribute(pElement, _T("shortcut"));
        _tprintf(_T("\n"));
    }
    return S_OK;
}

int main(int argc, char* argv[]) {
    if (argc < 2) return 2;
    _tsetlocale(LC_ALL, _T(".UTF8"));
    HRESULT hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (FAILED(hr)) return 1;
    {
        CXMLUtil xml;
        if (xml.Load(std::wstring(CA2W(argv[1]))) != S_OK) {
            _tprintf(_T("cannot load %hs\n"), argv[1]);
            return 1;
        }
        LONG lItems = -1;
        xml.GetNodesCount(L"/Root/Menu/Item", lItems);
        LONG lChildren = -1;
        xml.GetChildNodeCount(L"/Root/Menu", lChildren);
        _tprintf(_T("counted %d items, %d children\n"), (int)lItems, (int)lChildren);

        CComPtr<IXMLDOMDocument> pDoc = xml.GetDomDocument();
        hr = ReportItems(pDoc);

        CComPtr<IXMLDOMDocument> pCopy;
        if (SUCCEEDED(pCopy.CoCreateInstance(CLSID_DOMDocument)) && pCopy != NULL) {
            CComPtr<IXMLDOMElement> pRoot;
            pCopy->createElement(CComBSTR(_T("Report")), &pRoot);
            pRoot->setAttribute(CComBSTR(_T("count")), CComVariant(lItems));
            CComPtr<IXMLDOMNode> pAppended;
            pCopy->appendChild(pRoot, &pAppended);
            CComBSTR bstrXml;
            pCopy->get_xml(&bstrXml);
            _tprintf(_T("%ls\n"), (LPCWSTR)bstrXml);
        }
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
