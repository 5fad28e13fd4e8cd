#include "com/registrar.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "com/registry_check.h"
#include "resources/resource.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// "点亮摇一摇" in code page 936.
constexpr char kCaptionGbk[] = "\xb5\xe3\xc1\xc1\xd2\xa1\xd2\xbb\xd2\xa1";
constexpr wchar_t kCaption[] = L"点亮摇一摇";

// ---- Parsing ----

TEST(RegistrarParseTest, ReadsRootsMarksDefaultValuesAndNamedValues) {
    RegistryScript script;
    ASSERT_EQ(ParseRegistryScript(L"HKCR { NoRemove CLSID { ForceRemove {ABC} = s 'Class' {\n"
                                  L"  InprocServer32 = s 'x.dll' { val ThreadingModel = s 'Apt' }\n"
                                  L"  Delete Old 'Programmable' } } }\n"
                                  L"HKEY_LOCAL_MACHINE { Key { val Flag = d '7' } }",
                                  script),
              S_OK);
    ASSERT_EQ(script.size(), 2u);
    EXPECT_EQ(script[0].root, ScriptRoot::ClassesRoot);
    EXPECT_EQ(script[1].root, ScriptRoot::LocalMachine);

    ASSERT_EQ(script[0].keys.size(), 1u);
    const ScriptKey& clsid = script[0].keys[0];
    EXPECT_EQ(clsid.name, L"CLSID");
    EXPECT_EQ(clsid.mark, KeyMark::NoRemove);
    ASSERT_EQ(clsid.subkeys.size(), 1u);
    const ScriptKey& object = clsid.subkeys[0];
    EXPECT_EQ(object.name, L"{ABC}");
    EXPECT_EQ(object.mark, KeyMark::ForceRemove);
    ASSERT_EQ(object.values.size(), 1u);
    EXPECT_EQ(object.values[0].name, L"");
    EXPECT_EQ(object.values[0].text, L"Class");
    ASSERT_EQ(object.subkeys.size(), 3u);
    EXPECT_EQ(object.subkeys[0].name, L"InprocServer32");
    ASSERT_EQ(object.subkeys[0].values.size(), 2u);
    EXPECT_EQ(object.subkeys[0].values[1].name, L"ThreadingModel");
    EXPECT_EQ(object.subkeys[0].values[1].type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(object.subkeys[0].values[1].text, L"Apt");
    EXPECT_EQ(object.subkeys[1].name, L"Old");
    EXPECT_EQ(object.subkeys[1].mark, KeyMark::Delete);
    EXPECT_EQ(object.subkeys[2].name, L"Programmable");
    EXPECT_EQ(object.subkeys[2].mark, KeyMark::None);
    EXPECT_TRUE(object.subkeys[2].values.empty());

    ASSERT_EQ(script[1].keys.size(), 1u);
    ASSERT_EQ(script[1].keys[0].values.size(), 1u);
    EXPECT_EQ(script[1].keys[0].values[0].name, L"Flag");
    EXPECT_EQ(script[1].keys[0].values[0].type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(script[1].keys[0].values[0].number, 7u);
}

TEST(RegistrarParseTest, QuotedTextKeepsSpacesBracesAndDoubledQuotes) {
    RegistryScript script;
    ASSERT_EQ(ParseRegistryScript(
                  L"HKCU {\n\t'Browser Helper Objects' { val 'Default Visible' = s 'it''s {x}' }"
                  L"\r\n\t'' = s '' }",
                  script),
              kScriptSyntaxError);  // a key needs a name
    ASSERT_EQ(ParseRegistryScript(
                  L"HKCU {\n\t'Browser Helper Objects' { val 'Default Visible' = s 'it''s {x}' }"
                  L"\r\n\tNoRemove = s '' }",
                  script),
              kScriptSyntaxError);  // a mark is no name
    ASSERT_EQ(ParseRegistryScript(
                  L"HKCU {\n\t'Browser Helper Objects' { val 'Default Visible' = s 'it''s {x}' }"
                  L"\r\n\t'NoRemove' = s '' }",
                  script),
              S_OK);
    ASSERT_EQ(script.size(), 1u);
    ASSERT_EQ(script[0].keys.size(), 2u);
    EXPECT_EQ(script[0].keys[0].name, L"Browser Helper Objects");
    ASSERT_EQ(script[0].keys[0].values.size(), 1u);
    EXPECT_EQ(script[0].keys[0].values[0].name, L"Default Visible");
    EXPECT_EQ(script[0].keys[0].values[0].text, L"it's {x}");
    EXPECT_EQ(script[0].keys[1].name, L"NoRemove");
    EXPECT_EQ(script[0].keys[1].mark, KeyMark::None);
    ASSERT_EQ(script[0].keys[1].values.size(), 1u);
    EXPECT_EQ(script[0].keys[1].values[0].text, L"");
}

TEST(RegistrarParseTest, RootNamesAndKeywordsInAnyCase) {
    const struct {
        const wchar_t* name;
        ScriptRoot root;
    } roots[] = {
        {L"HKCR", ScriptRoot::ClassesRoot},  {L"HKEY_CLASSES_ROOT", ScriptRoot::ClassesRoot},
        {L"hklm", ScriptRoot::LocalMachine}, {L"HKEY_LOCAL_MACHINE", ScriptRoot::LocalMachine},
        {L"HKCU", ScriptRoot::CurrentUser},  {L"HKEY_Current_User", ScriptRoot::CurrentUser}};
    for (const auto& root : roots) {
        RegistryScript script;
        ASSERT_EQ(ParseRegistryScript(std::wstring(root.name) +
                                          L" { noremove A { FORCEREMOVE B { VAL c = S 'x' "
                                          L"Val d = D '1' } delete E } }",
                                      script),
                  S_OK)
            << root.name;
        ASSERT_EQ(script.size(), 1u);
        EXPECT_EQ(script[0].root, root.root) << root.name;
        const ScriptKey& a = script[0].keys.at(0);
        EXPECT_EQ(a.mark, KeyMark::NoRemove);
        EXPECT_EQ(a.subkeys.at(0).mark, KeyMark::ForceRemove);
        EXPECT_EQ(a.subkeys.at(0).values.size(), 2u);
        EXPECT_EQ(a.subkeys.at(1).mark, KeyMark::Delete);
    }
}

TEST(RegistrarParseTest, DwordDataIsDecimalOrHexAndFits32Bits) {
    const struct {
        const wchar_t* data;
        DWORD number;
    } good[] = {{L"0", 0}, {L"1", 1}, {L"0x10", 16}, {L"0XfF", 255}, {L"4294967295", 0xFFFFFFFF}};
    for (const auto& value : good) {
        RegistryScript script;
        ASSERT_EQ(ParseRegistryScript(
                      L"HKCU { K { val V = d '" + std::wstring(value.data) + L"' } }", script),
                  S_OK)
            << value.data;
        EXPECT_EQ(script.at(0).keys.at(0).values.at(0).number, value.number) << value.data;
    }
    for (const wchar_t* bad : {L"4294967296", L"-1", L"", L"0x", L"12a", L"1.0", L" 1"}) {
        RegistryScript script;
        EXPECT_EQ(
            ParseRegistryScript(L"HKCU { K { val V = d '" + std::wstring(bad) + L"' } }", script),
            kScriptSyntaxError)
            << bad;
        EXPECT_TRUE(script.empty());
    }
}

TEST(RegistrarParseTest, MalformedScriptsAreSyntaxErrors) {
    const wchar_t* const scripts[] = {
        L"HKCR { Key = s 'unterminated }",
        L"HKCR { Key { val V = s 'x' }",  // a brace left open
        L"HKCR { Key }  }",               // one too many
        L"HKXX { Key }",                  // no such root
        L"'HKCR' { Key }",                // roots are bare words
        L"HKCR Key",                      // no brace after the root
        L"HKCR { val V = s 'x' }",        // values belong to keys
        L"HKCR { Key = q 'x' }",          // unknown type
        L"HKCR { Key = b '00' }",         // binary data is not supported
        L"HKCR { Key { val V s 'x' } }",  // no "="
        L"HKCR { Key { val V = s } }",    // no data
        L"HKCR { Key { val = s 'x' } }",  // no name
        L"HKCR { { } }",                  // a brace as a key name
        L"HKCR { ForceRemove }",          // a mark without a key
        L"HKCR { Key = }",                // no type
    };
    for (const wchar_t* text : scripts) {
        RegistryScript script;
        EXPECT_EQ(ParseRegistryScript(text, script), kScriptSyntaxError) << text;
        EXPECT_TRUE(script.empty()) << text;
    }
    RegistryScript empty;
    EXPECT_EQ(ParseRegistryScript(L" \r\n\t", empty), S_OK);
    EXPECT_TRUE(empty.empty());
}

// ---- Replacements and code page ----

TEST(RegistrarTextTest, ReplacesNamesAndDoublePercent) {
    const ScriptReplacements replacements{{L"MODULE", L"C:\\A\\KVShake.dll"}, {L"APPID", L"{1}"}};
    std::wstring expanded;
    ASSERT_EQ(ExpandReplacements(L"'%MODULE%,214' %APPID%%APPID% 100%% %%MODULE%%", replacements,
                                 expanded),
              S_OK);
    EXPECT_EQ(expanded, L"'C:\\A\\KVShake.dll,214' {1}{1} 100% %MODULE%");
}

TEST(RegistrarTextTest, UnknownOrUnclosedReplacementsFail) {
    const ScriptReplacements replacements{{L"MODULE", L"m"}};
    for (const wchar_t* text : {L"%module%", L"%OTHER%", L"%MODULE", L"50% off"}) {
        std::wstring expanded;
        EXPECT_EQ(ExpandReplacements(text, replacements, expanded), kScriptSyntaxError) << text;
    }
}

TEST(RegistrarTextTest, ScriptTextIsCodePage936WhateverTheSystemCodePage) {
    std::wstring wide;
    ASSERT_EQ(ScriptTextToWide(std::string("val B = s '") + kCaptionGbk + "'", wide), S_OK);
    EXPECT_EQ(wide, std::wstring(L"val B = s '") + kCaption + L"'");

    ASSERT_EQ(ScriptTextToWide(std::string("HKCR\0garbage", 12), wide), S_OK);
    EXPECT_EQ(wide, L"HKCR");  // the text ends at a NUL

    EXPECT_EQ(ScriptTextToWide("ends inside a character \xb5", wide),
              HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(wide, L"");
}

// ---- Writing the registry, with every root redirected under a scratch key ----

constexpr wchar_t kScratch[] = L"Software\\KVShakeTest";

class RegistrarApplyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteTree(HKEY_CURRENT_USER, kScratch);
        roots_.Redirect(ScriptRoot::ClassesRoot, {HKEY_CURRENT_USER, Path(L"HKCR")})
            .Redirect(ScriptRoot::LocalMachine, {HKEY_CURRENT_USER, Path(L"HKLM")})
            .Redirect(ScriptRoot::CurrentUser, {HKEY_CURRENT_USER, Path(L"HKCU")});
    }
    void TearDown() override { DeleteTree(HKEY_CURRENT_USER, kScratch); }

    static std::wstring Path(const std::wstring& below) {
        return std::wstring(kScratch) + L"\\" + below;
    }

    HRESULT Run(const std::string& script, ScriptAction action,
                const ScriptReplacements& replacements = {}) {
        return RunRegistryScript(script, replacements, roots_, action);
    }

    RegistryRoots roots_;
};

constexpr char kSample[] =
    "HKCR\n"
    "{\n"
    "\tSample.Object.1 = s 'Sample Class'\n"
    "\t{\n"
    "\t\tCLSID = s '{1234}'\n"
    "\t}\n"
    "\tNoRemove CLSID\n"
    "\t{\n"
    "\t\tForceRemove {1234} = s 'Sample Class'\n"
    "\t\t{\n"
    "\t\t\tInprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' }\n"
    "\t\t}\n"
    "\t}\n"
    "}\n"
    "HKLM\n"
    "{\n"
    "\tNoRemove Software\n"
    "\t{\n"
    "\t\tNoRemove 'Shared Parent'\n"
    "\t\t{\n"
    "\t\t\tval Ours = s 'x'\n"
    "\t\t\tForceRemove Mine = s 'Mine' { val Count = d '0x2A' }\n"
    "\t\t}\n"
    "\t}\n"
    "}\n"
    "HKCU\n"
    "{\n"
    "\tSettings { val 'Button Text' = s '\xb5\xe3\xc1\xc1\xd2\xa1\xd2\xbb\xd2\xa1' }\n"
    "}\n";

TEST_F(RegistrarApplyTest, RegistrationWritesEveryKeyAndValueOfTheScript) {
    ASSERT_EQ(Run(kSample, ScriptAction::Register, {{L"MODULE", L"C:\\Dir\\Sample.dll"}}), S_OK);
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\Sample.Object.1"),
                                {Sz(L"", L"Sample Class")}, 1));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\Sample.Object.1\\CLSID"),
                                {Sz(L"", L"{1234}")}, 0));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID"), {}, 1));
    EXPECT_TRUE(
        KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{1234}\\InprocServer32"),
                        {Sz(L"", L"C:\\Dir\\Sample.dll"), Sz(L"ThreadingModel", L"Apartment")}, 0));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKLM\\Software\\Shared Parent"),
                                {Sz(L"Ours", L"x")}, 1));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKLM\\Software\\Shared Parent\\Mine"),
                                {Sz(L"", L"Mine"), Dword(L"Count", 42)}, 0));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCU\\Settings"),
                                {Sz(L"Button Text", kCaption)}, 0));
}

TEST_F(RegistrarApplyTest, ForceRemoveKeysStartAfreshAndOtherKeysKeepWhatTheyHold) {
    ASSERT_EQ(Run(kSample, ScriptAction::Register, {{L"MODULE", L"m"}}), S_OK);
    const std::wstring forced = Path(L"HKCR\\CLSID\\{1234}");
    const std::wstring plain = Path(L"HKCR\\Sample.Object.1");
    SetString(HKEY_CURRENT_USER, forced, L"Stale", L"old");
    SetString(HKEY_CURRENT_USER, forced + L"\\Stale Key", L"", L"old");
    SetString(HKEY_CURRENT_USER, plain, L"Kept", L"old");

    ASSERT_EQ(Run(kSample, ScriptAction::Register, {{L"MODULE", L"m"}}), S_OK);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, forced, L"Stale"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, forced + L"\\Stale Key"));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, forced, {Sz(L"", L"Sample Class")}, 1));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, plain, L"Kept"));
}

TEST_F(RegistrarApplyTest, DeleteMarkRemovesTheKeyOnRegistrationOnly) {
    SetString(HKEY_CURRENT_USER, Path(L"HKCU\\Parent\\Old\\Below"), L"v", L"x");
    const std::string script = "HKCU { Parent { Delete Old } }";
    ASSERT_EQ(Run(script, ScriptAction::Register), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCU\\Parent\\Old")));
    CreateKey(HKEY_CURRENT_USER, Path(L"HKCU\\Parent\\Old"));
    ASSERT_EQ(Run("HKCU { NoRemove Parent { Delete Old } }", ScriptAction::Unregister), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCU\\Parent\\Old")));
}

TEST_F(RegistrarApplyTest, UnregistrationRemovesScriptKeysWithAllBelowAndKeepsNoRemoveKeys) {
    ASSERT_EQ(Run(kSample, ScriptAction::Register, {{L"MODULE", L"m"}}), S_OK);
    SetString(HKEY_CURRENT_USER, Path(L"HKCR\\Sample.Object.1\\Added\\Deeper"), L"v", L"x");
    SetString(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{Neighbour}"), L"", L"theirs");
    SetString(HKEY_CURRENT_USER, Path(L"HKLM\\Software\\Shared Parent"), L"Theirs", L"x");
    SetString(HKEY_CURRENT_USER, Path(L"HKLM\\Software\\Shared Parent\\Neighbour"), L"", L"x");

    ASSERT_EQ(Run(kSample, ScriptAction::Unregister, {{L"MODULE", L"m"}}), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCR\\Sample.Object.1")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{1234}")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(L"HKLM\\Software\\Shared Parent\\Mine")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCU\\Settings")));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID"), {}, 1));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID\\{Neighbour}")));
    // The NoRemove key loses the value that the script names and keeps the rest.
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKLM\\Software\\Shared Parent"),
                                {Sz(L"Theirs", L"x")}, 1));
}

TEST_F(RegistrarApplyTest, UnregisteringWhatIsNotThereSucceedsAndCreatesNothing) {
    ASSERT_EQ(Run(kSample, ScriptAction::Unregister, {{L"MODULE", L"m"}}), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));
    CreateKey(HKEY_CURRENT_USER, Path(L"HKLM\\Software"));
    ASSERT_EQ(Run(kSample, ScriptAction::Unregister, {{L"MODULE", L"m"}}), S_OK);
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKLM\\Software"), {}, 0));
}

TEST_F(RegistrarApplyTest, AScriptThatDoesNotParseWritesNothing) {
    EXPECT_EQ(
        Run("HKCU { First = s 'x' } HKCU { Second = s 'unterminated }", ScriptAction::Register),
        kScriptSyntaxError);
    EXPECT_EQ(Run("HKCU { First = s '%MISSING%' }", ScriptAction::Register), kScriptSyntaxError);
    EXPECT_EQ(Run("HKCU { First = s '\xff' }", ScriptAction::Register),
              HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));
}

TEST_F(RegistrarApplyTest, ARegistryFailureStopsTheScriptAndComesBackAsItsCode) {
    // Only volatile keys may go below a volatile key.
    CreateKey(HKEY_CURRENT_USER, Path(L"HKCU"));
    CreateKey(HKEY_CURRENT_USER, Path(L"HKCU\\Volatile"), REG_OPTION_VOLATILE);
    EXPECT_EQ(Run("HKCU { Before Volatile { Child } After }", ScriptAction::Register),
              HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCU\\Before")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCU\\After")));
}

TEST(RegistryRootsTest, PerUserModePutsClassesUnderTheUsersSoftwareClasses) {
    const RegistryRoots machine = RegistryRoots::PerMachine();
    EXPECT_EQ(machine.Location(ScriptRoot::ClassesRoot).key, HKEY_CLASSES_ROOT);
    EXPECT_EQ(machine.Location(ScriptRoot::ClassesRoot).subkey, L"");
    EXPECT_EQ(machine.Location(ScriptRoot::LocalMachine).key, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(machine.Location(ScriptRoot::CurrentUser).key, HKEY_CURRENT_USER);

    const RegistryRoots user = RegistryRoots::PerUser();
    EXPECT_EQ(user.Location(ScriptRoot::ClassesRoot).key, HKEY_CURRENT_USER);
    EXPECT_EQ(user.Location(ScriptRoot::ClassesRoot).subkey, L"Software\\Classes");
    EXPECT_EQ(user.Location(ScriptRoot::LocalMachine).key, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(user.Location(ScriptRoot::LocalMachine).subkey, L"");
    EXPECT_EQ(user.Location(ScriptRoot::CurrentUser).key, HKEY_CURRENT_USER);
}

// ---- The module's own scripts ----

class ModuleScriptsTest : public RegistrarApplyTest {
  protected:
    static void SetUpTestSuite() {
        module_ = ::LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() { ::FreeLibrary(module_); }

    static HMODULE module_;
};

HMODULE ModuleScriptsTest::module_ = nullptr;

TEST_F(ModuleScriptsTest, TheModuleCarriesBothScriptsAndNoOthers) {
    ASSERT_NE(module_, nullptr);
    std::string script;
    ASSERT_EQ(LoadRegistryScript(module_, IDR_KVSHAKE, script), S_OK);
    EXPECT_NE(script.find("NoRemove AppID"), std::string::npos);
    ASSERT_EQ(LoadRegistryScript(module_, IDR_SHAKEBHO, script), S_OK);
    EXPECT_NE(script.find(std::string("ButtonText = s '") + kCaptionGbk + "'"), std::string::npos)
        << "the button caption must be stored as GBK bytes";
    EXPECT_EQ(LoadRegistryScript(module_, 999, script),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(script, "");
}

TEST_F(ModuleScriptsTest, TheScriptsRunThroughTheRegistrarAndBackOut) {
    const ScriptReplacements replacements{{L"MODULE", L"C:\\It''s\\KVShake.dll"},
                                          {L"APPID", L"{1EEED60E-0AD3-4740-989C-6CA268313F93}"}};
    std::string appId, helper;
    ASSERT_EQ(LoadRegistryScript(module_, IDR_KVSHAKE, appId), S_OK);
    ASSERT_EQ(LoadRegistryScript(module_, IDR_SHAKEBHO, helper), S_OK);
    ASSERT_EQ(RunRegistryScript(appId, replacements, roots_, ScriptAction::Register), S_OK);
    ASSERT_EQ(RunRegistryScript(helper, replacements, roots_, ScriptAction::Register), S_OK);
    const std::wstring button = Path(
        L"HKLM\\Software\\Microsoft\\Internet Explorer\\Extensions\\"
        L"{1AC31710-6759-484f-A129-A70C55485DA1}");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, button, L"ButtonText").value_or(RegValue{}).text,
              kCaption);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, button, L"Icon").value_or(RegValue{}).text,
              L"C:\\It's\\KVShake.dll,214");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path(L"HKCR\\AppID\\KVShake.DLL")));

    ASSERT_EQ(RunRegistryScript(helper, replacements, roots_, ScriptAction::Unregister), S_OK);
    ASSERT_EQ(RunRegistryScript(appId, replacements, roots_, ScriptAction::Unregister), S_OK);
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR"), {}, 2));  // AppID and CLSID
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\AppID"), {}, 0));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER, Path(L"HKCR\\CLSID"), {}, 0));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_CURRENT_USER,
                                Path(L"HKLM\\Software\\Microsoft\\Internet Explorer\\Extensions"),
                                {}, 0));
}

}  // namespace
}  // namespace kvshake::testing
