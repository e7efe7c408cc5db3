// SPDX-License-Identifier: MIT
// Loads a menu file and prints how many items it has and each item's name.
#include <xmlutil/XMLUtil.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");  // wide text in and out as UTF-8
    const char* path = argc > 1 ? argv[1] : "examples/data/menu.xml";
    const size_t length = std::mbstowcs(nullptr, path, 0);
    if (length == static_cast<size_t>(-1)) return std::fprintf(stderr, "path is not UTF-8\n"), 64;
    std::wstring file(length, L'\0');
    std::mbstowcs(file.data(), path, length);

    CXMLUtil doc;
    if (doc.Load(file) != S_OK) return std::fprintf(stderr, "cannot load %s\n", path), 2;
    long count = 0;
    std::vector<std::wstring> names;
    doc.GetNodesCount(L"/Root/Menu/Item", count);
    doc.GetNodeValues(L"/Root/Menu/Item/Name", names);
    std::printf("%s: %ld menu items\n", path, count);
    for (const std::wstring& name : names) std::printf("  %ls\n", name.c_str());
    return doc.IsError();
}
