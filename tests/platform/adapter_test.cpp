// SPDX-License-Identifier: MIT
// Finding the machine's lowest permanent adapter address: the selection rule
// over fake adapters, and the kernel source's listing and address queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/net/adapter_source.h"
#include "support/adapters.h"
#include "support/private_access.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::net::HardwareAddress;
using xmlutil::net::KernelAdapterSource;
using xmlutil::test::FakeAdapters;
using xmlutil::test::InstalledAdapters;

struct Discovery {
    long result;
    std::wstring text;  // up to the first NUL of the buffer
    bool terminatedAt12;
    bool tailUntouched;  // nothing written past the terminator
};

// Runs the discovery into a buffer pre-filled with 'x', so that untouched and
// overrun parts show.
Discovery Discover() {
    CXMLUtil util;
    wchar_t buffer[24];
    std::fill(std::begin(buffer), std::end(buffer), L'x');
    long result = CXMLUtilTestAccess::GetMinAdapterRealMAC(util, buffer);
    const wchar_t* nul = std::find(std::cbegin(buffer), std::cend(buffer), L'\0');
    return {result, std::wstring(std::cbegin(buffer), nul), nul == buffer + 12,
            std::all_of(std::begin(buffer) + 13, std::end(buffer),
                        [](wchar_t c) { return c == L'x'; })};
}

struct SelectionCase {
    const char* what;
    std::vector<const char*> addresses;
    const wchar_t* expected;
};

TEST(MinAdapterAddress, PicksTheLowestAddressFirstByteMostSignificant) {
    const SelectionCase cases[] = {
        {"last byte decides", {"00:1A:2B:3C:4D:5F", "00:1A:2B:3C:4D:5E"}, L"001A2B3C4D5E"},
        {"same, other order", {"00:1A:2B:3C:4D:5E", "00:1A:2B:3C:4D:5F"}, L"001A2B3C4D5E"},
        {"first byte decides", {"10:00:00:00:00:01", "02:FF:FF:FF:FF:FF"}, L"02FFFFFFFFFF"},
        {"a middle byte decides", {"00:00:02:00:00:00", "00:00:01:FF:FF:FF"}, L"000001FFFFFF"},
        {"bytes compare unsigned", {"80:00:00:00:00:00", "7F:FF:FF:FF:FF:FF"}, L"7FFFFFFFFFFF"},
        {"upper-case digits", {"AB:CD:EF:AB:CD:EF"}, L"ABCDEFABCDEF"},
        {"equal addresses", {"0A:0B:0C:0D:0E:0F", "0A:0B:0C:0D:0E:0F"}, L"0A0B0C0D0E0F"},
        {"all zeros skipped", {"00:00:00:00:00:00", "FF:FF:FF:FF:FF:FE"}, L"FFFFFFFFFFFE"},
        {"all zeros after a real one", {"00:00:00:00:00:01", "00:00:00:00:00:00"}, L"000000000001"},
        {"three, lowest in the middle",
         {"30:00:00:00:00:00", "00:00:00:00:00:10", "00:00:01:00:00:00"},
         L"000000000010"},
    };
    for (const SelectionCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeAdapters fake;
        for (const char* address : c.addresses) fake.Answer({address});
        InstalledAdapters installed(fake);
        Discovery found = Discover();
        EXPECT_EQ(found.result, 0);
        EXPECT_EQ(found.text, c.expected);
        EXPECT_TRUE(found.terminatedAt12);
        EXPECT_TRUE(found.tailUntouched);
    }
}

TEST(MinAdapterAddress, SkipsAdaptersWhoseQueryFails) {
    FakeAdapters fake;
    fake.AddFailing("wlan0");
    fake.Answer({"00:00:00:00:00:09"});
    fake.AddFailing("eth9");
    InstalledAdapters installed(fake);
    Discovery found = Discover();
    EXPECT_EQ(found.result, 0);
    EXPECT_EQ(found.text, L"000000000009");
    EXPECT_EQ(fake.queries, 3);
}

TEST(MinAdapterAddress, NoUsableAdapterGivesTwelveZerosAndSuccess) {
    FakeAdapters failing;
    failing.AddFailing("eth0");
    failing.AddFailing("eth1");
    FakeAdapters zeros;
    zeros.Answer({"00:00:00:00:00:00", "00:00:00:00:00:00"});
    for (FakeAdapters* fake : {&failing, &zeros}) {
        InstalledAdapters installed(*fake);
        Discovery found = Discover();
        EXPECT_EQ(found.result, 0);
        EXPECT_EQ(found.text, L"000000000000");
        EXPECT_TRUE(found.terminatedAt12);
    }
}

TEST(MinAdapterAddress, WithoutAnAdapterListReturnsMinusOneAndLeavesTheBufferAlone) {
    FakeAdapters unavailable;
    unavailable.listAvailable = false;
    unavailable.Answer({"00:00:00:00:00:01"});
    FakeAdapters none;  // the platform reports no adapters at all
    for (FakeAdapters* fake : {&unavailable, &none}) {
        InstalledAdapters installed(*fake);
        Discovery found = Discover();
        EXPECT_EQ(found.result, -1);
        EXPECT_EQ(found.text, std::wstring(24, L'x'));
        EXPECT_EQ(fake->queries, 0);
    }
}

TEST(MinAdapterAddress, AsksAgainOnEveryCallAndLeavesTheObjectAlone) {
    FakeAdapters fake;
    fake.Answer({"00:00:00:00:00:05"});
    InstalledAdapters installed(fake);
    CXMLUtil util;
    ASSERT_EQ(util.LoadXML(L"<unclosed"), S_FALSE);
    wchar_t buffer[24] = {};
    ASSERT_EQ(CXMLUtilTestAccess::GetMinAdapterRealMAC(util, buffer), 0);
    EXPECT_EQ(std::wstring(buffer), L"000000000005");

    // A new adapter appears, and the old one stops answering.
    fake.adapters[0].permanent.reset();
    fake.Answer({"00:00:00:00:00:07"});
    ASSERT_EQ(CXMLUtilTestAccess::GetMinAdapterRealMAC(util, buffer), 0);
    EXPECT_EQ(std::wstring(buffer), L"000000000007");
    EXPECT_EQ(fake.listCalls, 2);
    EXPECT_EQ(fake.queries, 3);
    // Neither the recorded result nor the document was touched.
    EXPECT_EQ(CXMLUtilTestAccess::RecordedResult(util), S_FALSE);
    EXPECT_EQ(util.IsError(), 1);
}

// ---- the kernel ------------------------------------------------------------

TEST(KernelAdapters, ListsEveryInterfaceUpOrDown) {
    std::vector<std::string> expected = xmlutil::test::SysfsInterfaces();
    if (expected.empty()) GTEST_SKIP() << "/sys/class/net cannot be read here";
    std::vector<std::string> names{"stale entry"};
    ASSERT_TRUE(KernelAdapterSource().ListAdapters(names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
    EXPECT_NE(std::find(names.begin(), names.end(), "lo"), names.end());
}

TEST(KernelAdapters, RefusesNamesThatCannotBeAskedAbout) {
    KernelAdapterSource kernel;
    HardwareAddress address{};
    EXPECT_FALSE(kernel.ReadPermanentAddress("", address));
    EXPECT_FALSE(kernel.ReadPermanentAddress("xmlutil-none-0", address));
    // Too long for an interface name: refused, never truncated or overrun.
    EXPECT_FALSE(kernel.ReadPermanentAddress(std::string(64, 'a'), address));
    EXPECT_FALSE(kernel.ReadPermanentAddress("lo" + std::string(14, 'x'), address));
    // An embedded NUL would otherwise make the kernel see "lo".
    EXPECT_FALSE(kernel.ReadPermanentAddress(std::string("lo\0x", 4), address));
}

TEST(KernelAdapters, PermanentAddressesAgreeWithEthtool) {
    if (!xmlutil::test::EthtoolInstalled()) {
        GTEST_SKIP() << "ethtool is not installed (scripts/deps.sh installs it)";
    }
    std::vector<std::string> names = xmlutil::test::SysfsInterfaces();
    if (names.empty()) GTEST_SKIP() << "/sys/class/net cannot be read here";
    KernelAdapterSource kernel;
    for (const std::string& name : names) {
        HardwareAddress address{};
        std::string ours;
        if (kernel.ReadPermanentAddress(name, address) && address != HardwareAddress{}) {
            char digits[13];
            std::snprintf(digits, sizeof digits, "%02X%02X%02X%02X%02X%02X", address[0], address[1],
                          address[2], address[3], address[4], address[5]);
            ours = digits;
        }
        EXPECT_EQ(ours, xmlutil::test::EthtoolPermanentAddress(name)) << "interface " << name;
    }
}

}  // namespace
