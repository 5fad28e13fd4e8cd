#include "foundation/shared_state.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "support/child_process.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// This program never loads the module: only the helper processes keep the block alive.
TEST(SharedBlockTest, ProcessesShareOneBlockThatStartsFromZeroAfterTheLastUnload) {
    const std::wstring tabNum = Word(offsetof(SharedBlock, g_nTabNum));
    const std::wstring nextTabNum = Word(offsetof(SharedBlock, g_nNextTabNum));
    const std::wstring written = UniqueName(L"written");
    const std::wstring answered = UniqueName(L"answered");

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

}  // namespace
}  // namespace kvshake::testing
