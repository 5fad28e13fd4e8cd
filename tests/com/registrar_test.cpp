// The registrar against a scratch key: every root of a script is redirected below it.
#include "com/registrar.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/registry_check.h"

namespace kvshake::testing {
namespace {

// A key of this process's own, so that cases can run side by side.
const std::wstring kScratch = L"Software\\KVShakeTest-" + std::to_wstring(::GetCurrentProcessId());

std::wstring Path(const std::wstring& below) { return kScratch + L"\\" + below; }

constexpr char kSample[] =
    "HKCR {\n"
    "\tSample.Object.1 = s 'Sample Class' { CLSID = s '{1234}' }\n"
    "\tNoRemove CLSID { ForceRemove {1234} = s 'Sample Class' {\n"
    "\t\tInprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' } } }\n"
    "}\n"
    "HKLM { NoRemove 'Shared Parent' {\n"
    "\tval Ours = s '100%% it''s {x}'\n"
    "\tForceRemove Mine = s 'Mine' { val Count = d '0x2A' val Ten = d '10' }\n"
    "\tDelete Old } }\n";

class RegistrarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteTree(HKEY_CURRENT_USER, kScratch);
        roots_.Redirect(ScriptRoot::ClassesRoot, {HKEY_CURRENT_USER, Path(L"HKCR")})
            .Redirect(ScriptRoot::LocalMachine, {HKEY_CURRENT_USER, Path(L"HKLM")})
            .Redirect(ScriptRoot::CurrentUser, {HKEY_CURRENT_USER, Path(L"HKCU")});
    }
    void TearDown() override { DeleteTree(HKEY_CURRENT_USER, kScratch); }

    HRESULT Run(const std::string& script, ScriptAction action) {
        return RunRegistryScript(script, {{L"MODULE", L"C:\\Dir\\Sample.dll"}}, roots_, action);
    }

    RegistryRoots roots_;
};

// ForceRemove, Delete and NoRemove keys both ways; a script that does not parse writes nothing.
TEST_F(RegistrarTest, ScriptIsWrittenAndTakenBackHonouringItsMarks) {
    EXPECT_EQ(
        Run("HKCU { First = s 'x' } HKCU { Second = s 'unterminated }", ScriptAction::Register),
        kScriptSyntaxError);
    ASSERT_EQ(Run(kSample, ScriptAction::Unregister), S_OK);  // nothing there: nothing created
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));

    SetString(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{1234}"), L"Stale", L"old");
    SetString(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{1234}\\Stale Key"), L"", L"old");
    SetString(HKEY_CURRENT_USER, Path(L"HKCR\\Sample.Object.1"), L"Kept", L"old");
    SetString(HKEY_CURRENT_USER, Path(L"HKLM\\Shared Parent\\Old\\Below"), L"v", L"x");

    ASSERT_EQ(Run(kSample, ScriptAction::Register), S_OK);
    const struct {
        const wchar_t* path;
        std::vector<RegValue> values;
        DWORD subkeys;
    } expected[] = {
        {L"HKCR\\Sample.Object.1", {Sz(L"", L"Sample Class"), Sz(L"Kept", L"old")}, 1},
        {L"HKCR\\Sample.Object.1\\CLSID", {Sz(L"", L"{1234}")}, 0},
        {L"HKCR\\CLSID\\{1234}", {Sz(L"", L"Sample Class")}, 1},
        {L"HKCR\\CLSID\\{1234}\\InprocServer32",
         {Sz(L"", L"C:\\Dir\\Sample.dll"), Sz(L"ThreadingModel", L"Apartment")},
         0},
        {L"HKLM\\Shared Parent", {Sz(L"Ours", L"100% it's {x}")}, 1},
        {L"HKLM\\Shared Parent\\Mine",
         {Sz(L"", L"Mine"), Dword(L"Count", 42), Dword(L"Ten", 10)},
         0},
    };
    for (const auto& key : expected) {
        EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(key.path), key.values, key.subkeys));
    }

    SetString(HKEY_CURRENT_USER, Path(L"HKCR\\Sample.Object.1\\Added\\Deeper"), L"v", L"x");
    SetString(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{Neighbour}"), L"", L"theirs");
    SetString(HKEY_CURRENT_USER, Path(L"HKLM\\Shared Parent"), L"Theirs", L"x");
    CreateKey(HKEY_CURRENT_USER, Path(L"HKLM\\Shared Parent\\Old"));

    ASSERT_EQ(Run(kSample, ScriptAction::Unregister), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCR\\Sample.Object.1")));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID"), {}, 1));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{Neighbour}")));
    EXPECT_TRUE(
        KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKLM\\Shared Parent"), {Sz(L"Theirs", L"x")}, 1));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path(L"HKLM\\Shared Parent\\Old")));
}

}  // namespace
}  // namespace kvshake::testing
