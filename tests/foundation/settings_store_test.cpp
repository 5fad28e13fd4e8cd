#include "foundation/settings_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "foundation/unique_resource.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kStoreKey[] = L"Software\\AppDataLow";

unique_hkey OpenStoreKey() {
    unique_hkey key;
    ::RegOpenKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, KEY_ALL_ACCESS, key.put());
    return key;
}

bool ValueExists(const wchar_t* name) {
    return ::RegQueryValueExW(OpenStoreKey().get(), name, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

void StoreRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(::RegSetValueExW(OpenStoreKey().get(), name, 0, type, static_cast<const BYTE*>(data),
                               bytes),
              ERROR_SUCCESS);
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const wchar_t* name :
             {kTokenValue, kUinValue, kSidValue, kUserValue, kNicknameValue, kDebugValue}) {
            ::RegDeleteValueW(OpenStoreKey().get(), name);
        }
    }
    void TearDown() override {
        unique_hkey key;
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.put(), nullptr);
    }
};

// A value stored without its terminator is read without overrun; a number is not the text "1".
TEST_F(SettingsStoreTest, TextsUpTo129CharactersReadBackAsStoredAndNothingIsReadPastAValue) {
    for (const std::wstring& text :
         {std::wstring(), std::wstring(L"1 "), std::wstring(129, L'x')}) {
        ASSERT_TRUE(WriteReg(kTokenValue, text));
        std::wstring value = L"stale";
        EXPECT_TRUE(ReadReg(kTokenValue, value));
        EXPECT_EQ(value, text);
    }
    const std::wstring full(130, L'y');
    std::wstring value;
    StoreRaw(kUinValue, REG_SZ, full.data(), 260);
    ReadReg(kUinValue, value);
    EXPECT_LE(value.size(), 130u);
    EXPECT_EQ(value.find_first_not_of(L'y'), std::wstring::npos);
    const DWORD one = 1;
    StoreRaw(kDebugValue, REG_DWORD, &one, sizeof(one));
    ReadReg(kDebugValue, value);
    EXPECT_NE(value, L"1");
}

TEST_F(SettingsStoreTest, ClearAccountDeletesTheAccountOnlyAndNothingWorksWithoutTheKey) {
    ASSERT_TRUE(WriteReg(kTokenValue, L"token"));
    ASSERT_TRUE(WriteReg(kUinValue, L"10001"));
    ASSERT_TRUE(WriteReg(kDebugValue, L"1"));
    ClearAccount();
    for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue, kNicknameValue}) {
        EXPECT_FALSE(ValueExists(name)) << name;
    }
    EXPECT_TRUE(ValueExists(kDebugValue));

    // Without the key every operation fails, and the key is never made.
    ::RegDeleteValueW(OpenStoreKey().get(), kDebugValue);
    ASSERT_EQ(::RegDeleteKeyW(HKEY_CURRENT_USER, kStoreKey), ERROR_SUCCESS);
    std::wstring value;
    EXPECT_FALSE(WriteReg(kTokenValue, L"token"));
    EXPECT_FALSE(ReadReg(kTokenValue, value));
    EXPECT_FALSE(DelReg(kTokenValue));
    EXPECT_FALSE(OpenStoreKey());
}

}  // namespace
}  // namespace kvshake::testing
