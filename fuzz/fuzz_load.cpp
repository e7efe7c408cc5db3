// SPDX-License-Identifier: MIT
// Loading arbitrary bytes: through Load (from a file) and through LoadXML (as
// Unicode text). Whatever loads must serialise to text that loads back to the
// same text, and whatever saves must load back to the same document.
#include <cstdio>
#include <fstream>

#include "fuzz_input.h"

namespace fuzz::load {

// Chosen at first use, after the environment (TMPDIR) is settled.
const std::string& InputPath() {
    static const std::string path = fuzz::TempPath("in");
    return path;
}
const std::string& SavePath() {
    static const std::string path = fuzz::TempPath("saved");
    return path;
}

void RemoveTempFiles() {
    std::remove(InputPath().c_str());
    std::remove(SavePath().c_str());
}

// Serialised text and saved files of `doc` load back as the same document.
void CheckRoundTrips(CXMLUtil& doc) {
    std::wstring xml;
    if (doc.GetXML(xml) != S_OK) fuzz::Fail("GetXML of a loaded document failed");

    CXMLUtil again;
    if (again.LoadXML(xml.c_str()) != S_OK) fuzz::Fail("serialised text does not load", xml);
    std::wstring xmlAgain;
    if (again.GetXML(xmlAgain) != S_OK || xmlAgain != xml) {
        fuzz::Fail("text changed through GetXML + LoadXML", xml + L"\n----\n" + xmlAgain);
    }

    const long saved = doc.Save(fuzz::Wide(SavePath()));
    fuzz::CheckResult(saved, "Save");
    if (saved != S_OK) return;
    CXMLUtil back;
    if (back.Load(fuzz::Wide(SavePath())) != S_OK) fuzz::Fail("saved file does not load", xml);
    std::wstring xmlBack;
    if (back.GetXML(xmlBack) != S_OK || xmlBack != xml) {
        fuzz::Fail("document changed through Save + Load", xml + L"\n----\n" + xmlBack);
    }
}

int TestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream(InputPath(), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        CXMLUtil doc;
        const long hr = doc.Load(fuzz::Wide(InputPath()));
        if (hr != S_OK && hr != S_FALSE) fuzz::Fail("Load gave neither S_OK nor S_FALSE");
        if (hr == S_OK) CheckRoundTrips(doc);
    }
    {
        const std::wstring text = fuzz::WideFromBytes(data, size);
        CXMLUtil doc;
        const long hr = doc.LoadXML(text.c_str());
        if (hr != S_OK && hr != S_FALSE) fuzz::Fail("LoadXML gave neither S_OK nor S_FALSE");
        if (hr == S_OK) CheckRoundTrips(doc);
    }
    return 0;
}

}  // namespace fuzz::load

#ifndef XMLUTIL_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietInit();
    std::atexit(fuzz::load::RemoveTempFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::load::TestOneInput(data, size);
}
#endif
