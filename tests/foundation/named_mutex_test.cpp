#include "foundation/named_mutex.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "foundation/unique_resource.h"
#include "support/child_process.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// Asks another process whether it could take the mutex right now.
std::string StateSeenFromAnotherProcess(const std::wstring& name) {
    TestHost probe(L"trylock " + name);
    const DWORD exitCode = probe.Wait();
    return exitCode == 0 ? probe.Output() : "probe ended with " + std::to_string(exitCode);
}

// The unlock closes the only handle, which would end the mutex: the test keeps one for the probe.
TEST(NamedMutexTest, LockOwnsTheMutexUntilUnlockAndTheScopedLockPublishesItsHandle) {
    const std::wstring name = UniqueName(L"owned");
    HANDLE mutex = LockNamedMutex(name.c_str());
    ASSERT_NE(mutex, nullptr);
    unique_handle keepAlive(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "busy\n");
    UnlockNamedMutex(mutex);
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "free\n");

    HANDLE sharedHandle = nullptr;
    {
        ScopedNamedMutex lock(name.c_str(), sharedHandle);
        EXPECT_NE(sharedHandle, nullptr);
        EXPECT_EQ(StateSeenFromAnotherProcess(name), "busy\n");
    }
    EXPECT_EQ(sharedHandle, nullptr);
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "free\n");
}

// Protected Mode tabs (low integrity) and tabs of medium integrity share the mutexes: its low
// label refuses nobody's release, and everybody may wait for it and release it, no more.
TEST(NamedMutexTest, MutexIsMadeForTabsOfEveryIntegrityLevel) {
    const std::wstring name = UniqueName(L"label");
    HANDLE mutex = LockNamedMutex(name.c_str());
    ASSERT_NE(mutex, nullptr);
    constexpr SECURITY_INFORMATION kParts = DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, kParts, nullptr, nullptr, nullptr, nullptr,
                                &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                       kParts, &text, nullptr));
    EXPECT_EQ(std::wstring(text), L"D:(A;;0x100001;;;WD)S:(ML;;NW;;;LW)");
    ::LocalFree(text);
    ::LocalFree(descriptor);
    UnlockNamedMutex(mutex);
}

TEST(NamedMutexTest, MutexAbandonedByAKilledProcessGoesToTheNextLock) {
    const std::wstring name = UniqueName(L"abandoned");
    const std::wstring locked = UniqueName(L"locked");
    TestHost owner(L"lock " + name + L" signal " + locked + L" hang");
    ASSERT_TRUE(WaitForNamedEvent(locked));
    unique_handle keepAlive(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    owner.Kill();

    // A lock that never comes fails the case at its time limit.
    HANDLE mutex = LockNamedMutex(name.c_str());
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "busy\n");
    UnlockNamedMutex(mutex);
}

TEST(NamedMutexTest, TwoProcessesRacingToCreateNeverBothOwnIt) {
    const std::wstring prefix = UniqueName(L"race");
    TestHost a(L"race " + prefix + L" 100 a");
    TestHost b(L"race " + prefix + L" 100 b");
    for (TestHost* host : {&a, &b}) EXPECT_EQ(host->Wait(60000), 0u) << "3: both owned it at once";
}

}  // namespace
}  // namespace kvshake::testing
