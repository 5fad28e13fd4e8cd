#include "foundation/shared_state.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <cstddef>
#include <string>

#include "foundation/log.h"
#include "support/child_process.h"
#include "support/security_label.h"
#include "support/log_file.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// This program never loads the module: only the helper processes keep the block alive.
TEST(SharedBlockTest, ProcessesShareOneBlockThatStartsFromZeroAfterTheLastUnload) {
    const std::wstring tabNum = Word(offsetof(SharedBlock, g_nTabNum));
    const std::wstring nextTabNum = Word(offsetof(SharedBlock, g_nNextTabNum));
    const std::wstring written = UniqueName(L"written"), answered = UniqueName(L"answered");

    TestHost first(L"load block-zero poke" + tabNum + L"7 signal " + written + L" wait " +
                   answered + L" peek" + nextTabNum + L"unload");
    TestHost second(L"load wait " + written + L" peek" + tabNum + L"poke" + nextTabNum +
                    L"3 signal " + answered + L" unload");
    ASSERT_EQ(first.Wait(), 0u) << first.Output();
    ASSERT_EQ(second.Wait(), 0u) << second.Output();
    EXPECT_EQ(first.Output(), "zero\n3\n");
    EXPECT_EQ(second.Output(), "7\n");

    TestHost later(L"load block-zero peek" + tabNum);
    ASSERT_EQ(later.Wait(), 0u);
    EXPECT_EQ(later.Output(), "zero\n0\n");
}

// A helper of the other width, from the test build beside this one, shares the machine run with
// one of this width.
TEST(SharedBlockTest, ProcessesOfBothWidthsShareOneBlock) {
    if (!KVSHAKE_OTHER_WIDTH_RUNS) GTEST_SKIP() << "32-bit programs cannot run on this machine";
    const std::wstring tabNum = Word(offsetof(SharedBlock, g_nTabNum));
    const std::wstring written = UniqueName(L"written"), read = UniqueName(L"read");
    ChildProcess other(L"Z:" KVSHAKE_OTHER_WIDTH_TESTHOST L" poke" + tabNum + L"5 signal " +
                       written + L" wait " + read);
    ASSERT_TRUE(WaitForNamedEvent(written, 20000))
        << "the other width's helper: " << other.Output();
    TestHost mine(L"peek" + tabNum + L"signal " + read);
    ASSERT_EQ(mine.Wait(), 0u);
    EXPECT_EQ(mine.Output(), "5\n");
    EXPECT_EQ(other.Wait(), 0u);
}

// The block's name is the session's and the user's, with its layout; only the user may use it,
// at either integrity level (Wine keeps no label: that is read from the descriptor made). A block
// that someone of the session made first, under another owner or open to others, is refused.
TEST(SharedBlockSecurityTest, TheBlockIsTheUsersAloneAndOneMadeFirstOtherwiseIsRefused) {
    const std::wstring sid = CurrentUserSid();
    ASSERT_EQ(sid.rfind(L"S-1-5-", 0), 0u) << sid.c_str();
    const std::wstring name = SharedBlockName(sid, nullptr);
    EXPECT_EQ(name, L"Local\\KVShakeMachineRun." + std::to_wstring(kSharedBlockLayout) + L"." +
                        sid + L".test-kvshake_tests");

    const std::wstring own = name + UniqueName(L".case");
    const SharedBlockMapping mapping = SharedBlockMapping::Open(own, sid);
    ASSERT_NE(mapping.Block(), nullptr);
    unique_handle opened(::OpenFileMappingW(READ_CONTROL, FALSE, own.c_str()));
    unique_hlocal read, text;
    ASSERT_EQ(::GetSecurityInfo(opened.get(), SE_KERNEL_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, read.put()),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        read.get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        reinterpret_cast<wchar_t**>(text.put()), nullptr));
    // The user's every right to a section (SECTION_ALL_ACCESS, 0xf001f), and no Everyone.
    EXPECT_EQ(std::wstring(static_cast<wchar_t*>(text.get())),
              L"O:" + sid + L"D:P(A;;CCDCLCSWRPSDRCWDWO;;;" + sid + L")");

    EXPECT_TRUE(HasLowNoWriteUpLabel(SharedBlockSecurity(sid).get()));

    DeleteLogFile();
    EnableLog(true);
    const std::pair<std::wstring, const char*> cases[] = {
        {L"O:BAD:(A;;GA;;;" + sid + L")", "another owner"},
        {L"O:" + sid + L"D:(A;;GA;;;" + sid + L")(A;;GR;;;WD)", "access granted to others"},
    };
    for (const auto& [form, why] : cases) {
        const std::wstring name = UniqueName(L"Local\\refused");
        unique_hlocal descriptor;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            form.c_str(), SDDL_REVISION_1, descriptor.put(), nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
        unique_handle first(::CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE,
                                                 0, 4096, name.c_str()));
        ASSERT_TRUE(first) << why;
        EXPECT_EQ(SharedBlockMapping::Open(name, sid).Block(), nullptr) << why;
        EXPECT_TRUE(LogHas(std::string("[Error]Shared block refused, ") + why + "\r\n"))
            << ReadLogFile();
    }
    EnableLog(false);
}

}  // namespace
}  // namespace kvshake::testing
