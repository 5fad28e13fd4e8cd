// DllRegisterServer, DllUnregisterServer and DllInstall against the registry of the test prefix.
// Every test starts and ends with none of the module's keys anywhere.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "KVShake_h.h"
#include "com/program_run.h"
#include "com/registry_check.h"
#include "foundation/unique_resource.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kClsid[] = L"{D3441990-2A84-4A2F-9D12-0B7F605DE4E9}";
constexpr wchar_t kLibId[] = L"{EF45DC82-7BBC-4BAF-A1F5-D1AFF6705823}";
constexpr wchar_t kAppId[] = L"{1EEED60E-0AD3-4740-989C-6CA268313F93}";
constexpr wchar_t kInterfaceKey[] = L"Interface\\{F743C3A5-5319-4FD4-AB3B-0FBDA9B8BB22}";
constexpr wchar_t kButtonClsid[] = L"{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}";
constexpr wchar_t kBhoParent[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr wchar_t kExtensionsParent[] = L"Software\\Microsoft\\Internet Explorer\\Extensions";
constexpr wchar_t kButton[] = L"{1AC31710-6759-484f-A129-A70C55485DA1}";
constexpr wchar_t kNeighbour[] = L"{0F0F0F0F-1111-2222-3333-444444444444}";

const std::wstring kBhoKey = std::wstring(kBhoParent) + L"\\" + kClsid;
const std::wstring kButtonKey = std::wstring(kExtensionsParent) + L"\\" + kButton;

// Where the class keys go: HKCR is HKLM\Software\Classes for a machine registration (Wine's
// HKCR is that key alone, and the test clears the per-user copies first), and the user's own
// Software\Classes for a per-user one.
struct Classes {
    HKEY root;
    std::wstring prefix;
    std::wstring operator+(const std::wstring& path) const { return prefix + path; }
};
const Classes kMachineClasses{HKEY_LOCAL_MACHINE, L"Software\\Classes\\"};
const Classes kUserClasses{HKEY_CURRENT_USER, L"Software\\Classes\\"};

// The class keys of the scripts, the type library's, and neighbours that tests plant.
const std::vector<const wchar_t*> kScriptClassKeys = {
    L"AppID\\{1EEED60E-0AD3-4740-989C-6CA268313F93}",
    L"AppID\\KVShake.DLL",
    L"KVShake.ShakeBHO.1",
    L"KVShake.ShakeBHO",
    L"CLSID\\{D3441990-2A84-4A2F-9D12-0B7F605DE4E9}",
};
const std::vector<const wchar_t*> kTypeLibraryKeys = {
    L"TypeLib\\{EF45DC82-7BBC-4BAF-A1F5-D1AFF6705823}",
    kInterfaceKey,
};
const std::vector<const wchar_t*> kNeighbourKeys = {
    L"AppID\\{0F0F0F0F-1111-2222-3333-444444444444}",
    L"CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}",
};

void RemoveEverything() {
    for (const Classes& classes : {kMachineClasses, kUserClasses}) {
        for (const auto* keys : {&kScriptClassKeys, &kTypeLibraryKeys, &kNeighbourKeys}) {
            for (const wchar_t* key : *keys) DeleteTree(classes.root, classes + key);
        }
    }
    for (const wchar_t* parent : {kBhoParent, kExtensionsParent}) {
        for (const wchar_t* key : {kClsid, kButton, kNeighbour}) {
            DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(parent) + L"\\" + key);
        }
    }
}

void ExpectClassKeys(const Classes& classes, const std::wstring& module) {
    const std::wstring object = classes + L"CLSID\\" + kClsid;
    const HKEY root = classes.root;
    EXPECT_TRUE(KeyHoldsExactly(root, classes + L"AppID\\" + kAppId, {Sz(L"", L"KVShake")}, 0));
    EXPECT_TRUE(KeyHoldsExactly(root, classes + L"AppID\\KVShake.DLL", {Sz(L"AppID", kAppId)}, 0));
    EXPECT_TRUE(
        KeyHoldsExactly(root, classes + L"KVShake.ShakeBHO.1", {Sz(L"", L"ShakeBHO Class")}, 1));
    EXPECT_TRUE(
        KeyHoldsExactly(root, classes + L"KVShake.ShakeBHO.1\\CLSID", {Sz(L"", kClsid)}, 0));
    EXPECT_TRUE(
        KeyHoldsExactly(root, classes + L"KVShake.ShakeBHO", {Sz(L"", L"ShakeBHO Class")}, 2));
    EXPECT_TRUE(KeyHoldsExactly(root, classes + L"KVShake.ShakeBHO\\CLSID", {Sz(L"", kClsid)}, 0));
    EXPECT_TRUE(KeyHoldsExactly(root, classes + L"KVShake.ShakeBHO\\CurVer",
                                {Sz(L"", L"KVShake.ShakeBHO.1")}, 0));
    EXPECT_TRUE(KeyHoldsExactly(root, object, {Sz(L"", L"ShakeBHO Class")}, 5));
    EXPECT_TRUE(KeyHoldsExactly(root, object + L"\\ProgID", {Sz(L"", L"KVShake.ShakeBHO.1")}, 0));
    EXPECT_TRUE(KeyHoldsExactly(root, object + L"\\VersionIndependentProgID",
                                {Sz(L"", L"KVShake.ShakeBHO")}, 0));
    EXPECT_TRUE(KeyHoldsExactly(root, object + L"\\Programmable", {}, 0));
    EXPECT_TRUE(KeyHoldsExactly(root, object + L"\\InprocServer32",
                                {Sz(L"", module), Sz(L"ThreadingModel", L"Apartment")}, 0));
    EXPECT_TRUE(KeyHoldsExactly(root, object + L"\\TypeLib", {Sz(L"", kLibId)}, 0));
}

void ExpectMachineKeys(const std::wstring& module) {
    EXPECT_TRUE(KeyHoldsExactly(HKEY_LOCAL_MACHINE, kBhoKey,
                                {Sz(L"", L"ShakeBHO Class"), Dword(L"NoExplorer", 1)}, 0));
    EXPECT_TRUE(KeyHoldsExactly(HKEY_LOCAL_MACHINE, kButtonKey,
                                {Sz(L"ButtonText", L"点亮摇一摇"), Sz(L"Icon", module + L",214"),
                                 Sz(L"HotIcon", module + L",214"), Sz(L"CLSID", kButtonClsid),
                                 Sz(L"ClsidExtension", kClsid), Sz(L"Default Visible", L"yes")},
                                0));
}

struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::SysFreeString(value); }
};
using unique_bstr = unique_any<bstr_traits>;

std::wstring Text(const unique_bstr& text) { return text ? text.get() : L""; }

// The type library as the registry finds it; its help string through the out-parameter.
void ExpectTypeLibraryRegistered(const std::wstring& module, std::wstring* helpString = nullptr) {
    const std::wstring version = std::wstring(L"TypeLib\\") + kLibId + L"\\1.0";
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, version));
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_MySolutionPluginLib, 1, 0, LOCALE_NEUTRAL, &library), S_OK);
    unique_bstr name, doc;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), L"MySolutionPluginLib");
    EXPECT_EQ(Text(doc).substr(0, 12), L"KVShake 1.0 ");
    unique_bstr path;
    ASSERT_EQ(::QueryPathOfRegTypeLib(LIBID_MySolutionPluginLib, 1, 0, LOCALE_NEUTRAL, path.put()),
              S_OK);
    EXPECT_EQ(::lstrcmpiW(Text(path).c_str(), module.c_str()), 0) << "registered for the module";
    if (helpString) *helpString = Text(doc);
}

void ExpectNothingRegistered() {
    for (const Classes& classes : {kMachineClasses, kUserClasses}) {
        for (const auto* keys : {&kScriptClassKeys, &kTypeLibraryKeys}) {
            for (const wchar_t* key : *keys) {
                EXPECT_FALSE(KeyExists(classes.root, classes + key))
                    << (classes.root == HKEY_LOCAL_MACHINE ? "HKLM " : "HKCU ") << key;
            }
        }
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kButtonKey));
}

using PlainExport = HRESULT(STDAPICALLTYPE*)();
using InstallExport = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

template <typename Function>
Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

std::wstring LoadedModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// The module loaded into this program. DllInstall is only ever called here without "user": the
// per-user switch would stay on for the rest of the run.
class RegistrationTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        module_ = ::LoadLibraryW(ModulePath().c_str());
        registerServer_ = Export<PlainExport>(module_, "DllRegisterServer");
        unregisterServer_ = Export<PlainExport>(module_, "DllUnregisterServer");
        install_ = Export<InstallExport>(module_, "DllInstall");
    }

    void SetUp() override {
        ASSERT_NE(module_, nullptr);
        ASSERT_NE(registerServer_, nullptr);
        ASSERT_NE(unregisterServer_, nullptr);
        ASSERT_NE(install_, nullptr);
        modulePath_ = LoadedModulePath(module_);
        RemoveEverything();
    }
    void TearDown() override { RemoveEverything(); }

    static HMODULE module_;
    static PlainExport registerServer_;
    static PlainExport unregisterServer_;
    static InstallExport install_;
    std::wstring modulePath_;
};

HMODULE RegistrationTest::module_ = nullptr;
PlainExport RegistrationTest::registerServer_ = nullptr;
PlainExport RegistrationTest::unregisterServer_ = nullptr;
InstallExport RegistrationTest::install_ = nullptr;

// ---- Registration per machine ----

TEST_F(RegistrationTest, OwnExportWritesEveryKeyAndValueAndTheTypeLibrary) {
    ASSERT_EQ(registerServer_(), S_OK);
    ExpectClassKeys(kMachineClasses, modulePath_);
    ExpectMachineKeys(modulePath_);
    ExpectTypeLibraryRegistered(modulePath_);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserClasses + L"CLSID\\" + kClsid));
}

TEST_F(RegistrationTest, Regsvr32WritesEveryKeyAndValueAndTheTypeLibrary) {
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const ProgramRun run =
        RunProgram(std::wstring(L"\"") + system + L"\\regsvr32.exe\" /s \"" + ModulePath() + L"\"");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    ExpectClassKeys(kMachineClasses, ModulePath());
    ExpectMachineKeys(ModulePath());
    ExpectTypeLibraryRegistered(ModulePath());
}

TEST_F(RegistrationTest, TheThreadKeepsItsLocaleOnSuccessAndOnFailure) {
    const LCID saved = ::GetThreadLocale();
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(::SetThreadLocale(german));
    EXPECT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(::GetThreadLocale(), german);
    EXPECT_EQ(unregisterServer_(), S_OK);
    EXPECT_EQ(::GetThreadLocale(), german);
    // Only volatile keys may go below a volatile key: script 102 fails on its second key.
    CreateKey(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO", REG_OPTION_VOLATILE);
    EXPECT_EQ(registerServer_(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(::GetThreadLocale(), german);
    ::SetThreadLocale(saved);
}

TEST_F(RegistrationTest, RegistrationStopsAtTheFirstFailure) {
    CreateKey(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO", REG_OPTION_VOLATILE);
    EXPECT_EQ(registerServer_(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    // Script 101 and the start of 102 went in; nothing after the failing key did.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"AppID\\KVShake.DLL"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO.1"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId));
}

TEST_F(RegistrationTest, ASecondRegistrationDropsWhatWasPlantedInForceRemoveKeys) {
    ASSERT_EQ(registerServer_(), S_OK);
    const std::wstring forced[] = {kMachineClasses + L"CLSID\\" + kClsid, kBhoKey, kButtonKey};
    for (const std::wstring& key : forced) {
        SetString(HKEY_LOCAL_MACHINE, key, L"Stale", L"planted");
        SetString(HKEY_LOCAL_MACHINE, key + L"\\Stale", L"", L"planted");
    }
    // A key without ForceRemove keeps what it holds.
    SetString(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO", L"Kept", L"planted");

    ASSERT_EQ(registerServer_(), S_OK);
    for (const std::wstring& key : forced) {
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, key, L"Stale"))
            << std::string(key.begin(), key.end());
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\Stale"));
    }
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO", L"Kept"));
    ExpectMachineKeys(modulePath_);
    EXPECT_TRUE(KeyHoldsExactly(HKEY_LOCAL_MACHINE, forced[0], {Sz(L"", L"ShakeBHO Class")}, 5));
}

// ---- Unregistration ----

TEST_F(RegistrationTest, UnregistrationRemovesOurKeysAndKeepsEverySharedParent) {
    ASSERT_EQ(registerServer_(), S_OK);
    SetString(HKEY_LOCAL_MACHINE, kMachineClasses + L"AppID\\" + kNeighbour, L"", L"theirs");
    SetString(HKEY_LOCAL_MACHINE, kMachineClasses + L"CLSID\\" + kNeighbour, L"", L"theirs");
    SetString(HKEY_LOCAL_MACHINE, std::wstring(kBhoParent) + L"\\" + kNeighbour, L"", L"theirs");
    SetString(HKEY_LOCAL_MACHINE, std::wstring(kExtensionsParent) + L"\\" + kNeighbour, L"", L"x");

    ASSERT_EQ(unregisterServer_(), S_OK);
    ExpectNothingRegistered();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId + L"\\1.0"));
    ComPtr<ITypeLib> library;
    EXPECT_TRUE(
        FAILED(::LoadRegTypeLib(LIBID_MySolutionPluginLib, 1, 0, LOCALE_NEUTRAL, &library)));

    for (const wchar_t* parent : {L"AppID", L"CLSID"}) {
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + parent + L"\\" + kNeighbour));
    }
    for (const std::wstring& path : {std::wstring(kBhoParent), std::wstring(kExtensionsParent)}) {
        for (size_t end = path.find(L'\\'); end != std::wstring::npos;
             end = path.find(L'\\', end + 1)) {
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path.substr(0, end)));
        }
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\" + kNeighbour));
    }
}

TEST_F(RegistrationTest, InstallFalseOnlyUnregisters) {
    ASSERT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(install_(FALSE, nullptr), S_OK);
    ExpectNothingRegistered();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId));
}

TEST_F(RegistrationTest, InstallTrueRegistersPerMachineWithoutACommandLine) {
    EXPECT_EQ(install_(TRUE, nullptr), S_OK);
    ExpectClassKeys(kMachineClasses, modulePath_);
    ExpectMachineKeys(modulePath_);
    ExpectTypeLibraryRegistered(modulePath_);
}

// ---- DllInstall in a process of its own ----

TEST_F(RegistrationTest, AFailedInstallTakesBackWhatItWrote) {
    CreateKey(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO", REG_OPTION_VOLATILE);
    const ProgramRun run = RunRegTool(L"install 1");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, "0x800703FD");  // ERROR_CHILD_MUST_BE_VOLATILE
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO.1"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO"));
}

TEST_F(RegistrationTest, PerUserInstallAndUninstallInAFreshProcess) {
    ProgramRun run = RunRegTool(L"install 1 user");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, "0x00000000");
    ExpectClassKeys(kUserClasses, ModulePath());

    run = RunRegTool(L"install 0 user");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, "0x00000000");
    ExpectNothingRegistered();
}

class PerUserCommandLineTest : public RegistrationTest,
                               public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(PerUserCommandLineTest, RegistersTheClassesForTheCurrentUserOnly) {
    const ProgramRun run = RunRegTool(std::wstring(L"install 1 \"") + GetParam() + L"\"");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, "0x00000000");
    ExpectClassKeys(kUserClasses, ModulePath());
    ExpectMachineKeys(ModulePath());  // the browser's own keys are HKLM's in either mode
    for (const wchar_t* key : kScriptClassKeys) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + key)) << "no HKCR class key";
    }
    ExpectTypeLibraryRegistered(ModulePath());
}

INSTANTIATE_TEST_SUITE_P(User, PerUserCommandLineTest,
                         ::testing::Values(L"user", L"USER", L"User"));

class PerMachineCommandLineTest : public RegistrationTest,
                                  public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(PerMachineCommandLineTest, RegistersPerMachine) {
    const ProgramRun run = RunRegTool(std::wstring(L"install 1 \"") + GetParam() + L"\"");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, "0x00000000");
    ExpectClassKeys(kMachineClasses, ModulePath());
    ExpectMachineKeys(ModulePath());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserClasses + L"CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserClasses + L"KVShake.ShakeBHO"));
}

INSTANTIATE_TEST_SUITE_P(NotQuiteUser, PerMachineCommandLineTest,
                         ::testing::Values(L"users", L"user ", L"/user", L"use", L""));

// ---- Under the Chinese code page ----

TEST_F(RegistrationTest, TypeLibraryHelpStringReadsBackInChineseCp936) {
    ASSERT_EQ(::GetACP(), 936u);
    ASSERT_EQ(registerServer_(), S_OK);
    std::wstring helpString;
    ExpectTypeLibraryRegistered(modulePath_, &helpString);
    EXPECT_EQ(helpString, L"KVShake 1.0 类型库");
    ExpectMachineKeys(modulePath_);
}

}  // namespace
}  // namespace kvshake::testing
