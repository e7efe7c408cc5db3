// SPDX-License-Identifier: MIT
// Test access to CXMLUtil's private members (the class befriends this struct).
#pragma once

#include "xmlutil/XMLUtil.h"

struct CXMLUtilTestAccess {
    static long CreateEmptyXML(CXMLUtil& util, short async) { return util.CreateEmptyXML(async); }
    static long GetMinAdapterRealMAC(CXMLUtil& util, wchar_t* out) {
        return util.GetMinAdapterRealMAC(out);
    }
    static HRESULT RecordedResult(const CXMLUtil& util) { return util.m_hr; }
    static IXMLDOMDocument* Document(const CXMLUtil& util) { return util.m_pDoc.p; }
};
