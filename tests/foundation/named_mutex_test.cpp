#include "foundation/named_mutex.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "foundation/unique_resource.h"
#include "support/child_process.h"
#include "support/security_label.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// Asks another process whether it could take the mutex right now.
std::string StateSeenFromAnotherProcess(const std::wstring& name) {
    TestHost probe(L"trylock " + name);
    const DWORD exitCode = probe.Wait();
    return exitCode == 0 ? probe.Output() : "probe ended with " + std::to_string(exitCode);
}

// Every integrity level may wait and release, no more (Wine keeps no label: read the descriptor).
TEST(NamedMutexTest, MutexIsMadeForTabsOfEveryIntegrityLevel) {
    const std::wstring name = UniqueName(L"label");
    HANDLE mutex = LockNamedMutex(name.c_str(), kCheckLockWaitMs);
    ASSERT_NE(mutex, nullptr);
    unique_hlocal read;
    ASSERT_EQ(::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, read.put()),
              static_cast<DWORD>(ERROR_SUCCESS));
    UnlockNamedMutex(mutex);
    unique_hlocal text;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        read.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
        reinterpret_cast<wchar_t**>(text.put()), nullptr));
    EXPECT_EQ(std::wstring(static_cast<wchar_t*>(text.get())), L"D:(A;;0x100001;;;WD)");

    EXPECT_TRUE(HasLowNoWriteUpLabel(NamedMutexSecurity().get()));
}

// A mutex that another process holds is given up on after the bound and the work skipped; once
// that process has ended, the abandoned mutex goes to the next lock, and a kept handle holds the
// mutex for the probe.
TEST(NamedMutexTest, AHeldMutexIsGivenUpOnAfterTheBoundAndAnAbandonedOneIsTaken) {
    const std::wstring name = UniqueName(L"abandoned"), locked = UniqueName(L"locked");
    TestHost owner(L"lock " + name + L" signal " + locked + L" hang");
    ASSERT_TRUE(WaitForNamedEvent(locked));
    HANDLE sharedHandle = nullptr;
    {
        ScopedNamedMutex held(name.c_str(), sharedHandle, 200, OnLockFailure::StayQuiet);
        EXPECT_FALSE(held.Held());
        EXPECT_EQ(held.Error(), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_EQ(sharedHandle, nullptr);
    }
    unique_handle keepAlive(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    owner.Kill();
    {
        // A lock that never comes fails the case at its time limit.
        ScopedNamedMutex lock(name.c_str(), sharedHandle);
        EXPECT_NE(sharedHandle, nullptr);
        EXPECT_EQ(StateSeenFromAnotherProcess(name), "busy\n");
    }
    EXPECT_EQ(sharedHandle, nullptr);
    EXPECT_EQ(StateSeenFromAnotherProcess(name), "free\n");
}

TEST(NamedMutexTest, TwoProcessesRacingToCreateNeverBothOwnIt) {
    const std::wstring prefix = UniqueName(L"race");
    TestHost a(L"race " + prefix + L" 100 a");
    TestHost b(L"race " + prefix + L" 100 b");
    for (TestHost* host : {&a, &b}) EXPECT_EQ(host->Wait(60000), 0u) << "3: both owned it at once";
}

}  // namespace
}  // namespace kvshake::testing
