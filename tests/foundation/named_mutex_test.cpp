#include "foundation/named_mutex.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "com/module_thread.h"
#include "foundation/unique_resource.h"
#include "support/child_process.h"
#include "support/handle_count.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// Asks another process whether it could take the mutex right now.
std::string StateSeenFromAnotherProcess(const std::wstring& name) {
    TestHost probe(L"trylock " + name);
    const DWORD exitCode = probe.Wait();
    return exitCode == 0 ? probe.Output() : "probe ended with " + std::to_string(exitCode);
}

TEST(NamedMutexTest, FirstLockCreatesAnOwnedMutexThatTheUnlockFrees) {
    const std::wstring name = UniqueName(L"fresh");
    HANDLE mutex = LockNamedMutex(name.c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "busy\n");
    // The unlock closes the only handle, which would end the mutex; keep it for the probe.
    HANDLE keepAlive = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    UnlockNamedMutex(mutex);
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "free\n");
    ::CloseHandle(keepAlive);
}

TEST(NamedMutexTest, MutexAbandonedByAKilledProcessGoesToTheNextLock) {
    const std::wstring name = UniqueName(L"abandoned");
    const std::wstring locked = UniqueName(L"locked");
    TestHost owner(L"lock " + name + L" signal " + locked + L" hang");
    ASSERT_TRUE(WaitForNamedEvent(locked));
    HANDLE keepAlive = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    owner.Kill();

    // The lock is taken on a thread of its own, so that a lock that never comes fails the test
    // instead of hanging it; the thread owns what it uses, as it may outlive the test.
    auto seen = std::make_shared<std::string>();
    DWORD threadId = 0;
    unique_handle thread(StartModuleThread(
        [name, seen] {
            HANDLE mutex = LockNamedMutex(name.c_str());
            *seen = StateSeenFromAnotherProcess(name);
            UnlockNamedMutex(mutex);
        },
        &threadId));
    ASSERT_TRUE(thread);
    ASSERT_EQ(::WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(*seen, "busy\n");
    ::CloseHandle(keepAlive);
}

TEST(NamedMutexTest, TwoProcessesRacingToCreateNeverBothOwnIt) {
    const std::wstring prefix = UniqueName(L"race");
    TestHost a(L"race " + prefix + L" 200 a");
    TestHost b(L"race " + prefix + L" 200 b");
    EXPECT_EQ(a.Wait(120000), 0u) << "exit code 3: both processes owned the mutex at once";
    EXPECT_EQ(b.Wait(120000), 0u) << "exit code 3: both processes owned the mutex at once";
}

TEST(NamedMutexTest, ScopedLockPublishesOnlyTheCurrentHoldersHandle) {
    const std::wstring name = UniqueName(L"scoped");
    HANDLE sharedHandle = nullptr;
    HANDLE keepAlive = nullptr;
    {
        ScopedNamedMutex lock(name.c_str(), sharedHandle);
        EXPECT_NE(sharedHandle, nullptr);
        keepAlive = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
        EXPECT_EQ(StateSeenFromAnotherProcess(name), "busy\n");
    }
    EXPECT_EQ(sharedHandle, nullptr);
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "free\n");
    ::CloseHandle(keepAlive);
}

TEST(NamedMutexTest, LockCyclesLeaveTheHandleCountUnchanged) {
    const std::wstring name = UniqueName(L"cycles");
    HANDLE sharedHandle = nullptr;
    { ScopedNamedMutex warmUp(name.c_str(), sharedHandle); }
    const DWORD before = HandleCountOfThisProcess();
    {
        // The count must see a single leaked handle for the comparison below to mean anything.
        unique_handle extra(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_EQ(HandleCountOfThisProcess(), before + 1);
    }
    for (int i = 0; i < 50000; ++i) {
        ScopedNamedMutex lock(name.c_str(), sharedHandle);
    }
    for (int i = 0; i < 50000; ++i) UnlockNamedMutex(LockNamedMutex(name.c_str()));
    EXPECT_EQ(HandleCountOfThisProcess(), before);
}

}  // namespace
}  // namespace kvshake::testing
