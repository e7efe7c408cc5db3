// SPDX-License-Identifier: MIT
// The load-time entry point: COM initialised on attach, released on detach only
// when this library's initialisation was the one that took. Each case runs on a
// thread of its own so its COM state starts clean.
#include "core/entry_point.h"

#include <thread>

#include "support/test_util.h"

namespace {

using xmlutil::core::ComInitializationResult;
using xmlutil::core::DllMain;

template <class Body>
void OnFreshThread(Body body) {
    std::thread worker(body);
    worker.join();
}

TEST(EntryPoint, AttachInitialisesAndDetachReleases) {
    OnFreshThread([] {
        EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), TRUE);
        EXPECT_HR(ComInitializationResult(), S_OK);
        // The apartment is multithreaded: asking for it again only counts.
        EXPECT_HR(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();

        EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr), TRUE);
        // Released: the next initialisation is a first one again.
        EXPECT_HR(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(EntryPoint, AlreadyInitialisedThreadIsLeftAsItWas) {
    OnFreshThread([] {
        ASSERT_HR(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), TRUE);
        EXPECT_HR(ComInitializationResult(), S_FALSE);
        EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr), TRUE);
        // Attach added one count and detach did not take it back: two
        // uninitialisations are needed before COM is down again.
        CoUninitialize();
        EXPECT_HR(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_HR(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(EntryPoint, FailedInitialisationStillLoadsAndIsNotUndone) {
    OnFreshThread([] {
        ASSERT_HR(CoInitialize(nullptr), S_OK);  // single-threaded apartment
        EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), TRUE);
        EXPECT_HR(ComInitializationResult(), RPC_E_CHANGED_MODE);
        EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr), TRUE);
        // The caller's own initialisation is still in place.
        EXPECT_HR(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_HR(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    });
}

TEST(EntryPoint, ThreadNotificationsChangeNothing) {
    OnFreshThread([] {
        ASSERT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), TRUE);
        EXPECT_EQ(DllMain(nullptr, DLL_THREAD_ATTACH, nullptr), TRUE);
        EXPECT_EQ(DllMain(nullptr, DLL_THREAD_DETACH, nullptr), TRUE);
        EXPECT_HR(ComInitializationResult(), S_OK);
        EXPECT_HR(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    });
}

}  // namespace
