// SPDX-License-Identifier: MIT
// Every encoding iconv offers on this machine under a name an XML declaration
// may carry: a document with ASCII, characters of the encoding's own, and `\`
// and `~` in its text is saved and loads back equal, or the save is refused
// and writes nothing.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/transcode.h"
#include "support/test_util.h"

namespace xmlutil::xmldom {
namespace {

// The names `iconv -l` lists that match XML's EncName ([A-Za-z][A-Za-z0-9._-]*).
std::vector<std::string> DeclarableIconvNames() {
    std::vector<std::string> names;
    FILE* pipe = popen("iconv -l 2>/dev/null", "r");
    if (pipe == nullptr) return names;
    std::string listing;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) listing.append(buffer, n);
    pclose(pipe);
    std::string name;
    auto take = [&names, &name]() {
        while (!name.empty() && name.back() == '/') name.pop_back();
        bool valid = !name.empty() && std::isalpha(static_cast<unsigned char>(name[0]));
        for (char c : name) {
            valid = valid && (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ||
                              c == '-');
        }
        if (valid) names.push_back(name);
        name.clear();
    };
    for (char c : listing) {
        if (c == ',' || c == ' ' || c == '\n') {
            take();
        } else {
            name += c;
        }
    }
    take();
    return names;
}

// Those of a few characters of many scripts that the encoding writes and reads
// back as themselves, as the engine converts it.
std::string OwnCharacters(const std::string& encoding) {
    const IconvHandle to(ConverterName(encoding).c_str(), "UTF-8");
    const IconvHandle from("UTF-8", ConverterName(encoding).c_str());
    if (!to.Valid() || !from.Valid()) return "";
    auto convert = [](iconv_t cd, std::string in) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::string out(64, '\0');
        char* inPtr = in.data();
        size_t inLeft = in.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            return std::string();
        }
        out.resize(out.size() - outLeft);
        return out;
    };
    std::string own;
    for (const char* c : {"é", "ü", "ß", "Ж", "Ω", "中", "文", "日", "本", "한", "ア", "ｱ", "¥",
                          "€", "‾", "①", "ב", "ع", "ก"}) {
        const std::string written = convert(to.get(), c);
        if (!written.empty() && convert(from.get(), written) == c) own += c;
    }
    return own;
}

std::string MarkupOf(xmlDoc* doc) {
    std::string utf8;
    EXPECT_HR(SerializeToUtf8(xmlDocGetRootElement(doc), utf8), S_OK);
    return utf8;
}

TEST(EngineEncodings, EveryIconvEncodingSavesAndLoadsBackOrIsRefused) {
    const std::vector<std::string> names = DeclarableIconvNames();
    ASSERT_GT(names.size(), 100u) << "iconv -l listed too few encodings";
    std::set<std::string> saved;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string own = OwnCharacters(name);
        const std::string text = "<?xml version=\"1.0\" encoding=\"" + name + "\"?><r a=\"" + own +
                                 " \\ ~\">ASCII " + own + " \\ ~<!--" + own + "--></r>";
        ParseRequest request;
        request.data = text.data();
        request.size = text.size();
        request.fromUnicodeText = true;
        XmlDocPtr doc;
        ASSERT_HR(ParseDocument(request, doc), S_OK);
        std::string bytes = "untouched";
        const HRESULT hr = SerializeForSave(doc.get(), false, bytes);
        if (hr != S_OK) {
            EXPECT_HR(hr, HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
            EXPECT_EQ(bytes, "untouched");
            continue;
        }
        saved.insert(name);
        ParseRequest again;
        again.data = bytes.data();
        again.size = bytes.size();
        XmlDocPtr back;
        ASSERT_HR(ParseDocument(again, back), S_OK) << bytes;
        EXPECT_EQ(MarkupOf(back.get()), MarkupOf(doc.get()));
    }
    // Refused are only those whose markup does not stay ASCII (EBCDIC, the
    // national ISO 646 variants, UTF-7, UCS-2 and UTF-32 by iconv's names)
    // and, for the comment, the ISO-2022 ones.
    for (const char* common :
         {"SHIFT_JIS", "SJIS", "CP932", "SHIFT_JISX0213", "EUC-JP", "EUC-KR", "JOHAB", "BIG5",
          "GBK", "GB18030", "ISO-8859-1", "ISO-8859-15", "CP1252", "KOI8-R", "UTF-8", "UTF-16"}) {
        EXPECT_EQ(saved.count(common), 1u) << common << " was refused";
    }
}

}  // namespace
}  // namespace xmlutil::xmldom
