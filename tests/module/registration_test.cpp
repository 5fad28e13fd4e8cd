// The registration exports against the registry of the test prefix, and the module's version and
// manifest resources. Every case starts and ends with none of the module's keys anywhere.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "KVShake_h.h"
#include "com/scoped_variant.h"
#include "support/child_process.h"
#include "support/registry_check.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kClsid[] = L"{D3441990-2A84-4A2F-9D12-0B7F605DE4E9}";
constexpr wchar_t kLibId[] = L"{EF45DC82-7BBC-4BAF-A1F5-D1AFF6705823}";
constexpr wchar_t kAppId[] = L"{1EEED60E-0AD3-4740-989C-6CA268313F93}";
constexpr wchar_t kBhoParent[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr wchar_t kExtensionsParent[] = L"Software\\Microsoft\\Internet Explorer\\Extensions";
constexpr wchar_t kButton[] = L"{1AC31710-6759-484f-A129-A70C55485DA1}";
constexpr wchar_t kNeighbour[] = L"{0F0F0F0F-1111-2222-3333-444444444444}";

const std::wstring kBhoKey = std::wstring(kBhoParent) + L"\\" + kClsid;
const std::wstring kButtonKey = std::wstring(kExtensionsParent) + L"\\" + kButton;
const std::wstring kObject = std::wstring(L"CLSID\\") + kClsid;

// Where the class keys go: HKLM\Software\Classes for a machine registration (Wine's HKCR is that
// key alone), the user's own Software\Classes for a per-user one.
struct Classes {
    HKEY root;
    std::wstring operator+(const std::wstring& path) const { return L"Software\\Classes\\" + path; }
};
const Classes kMachineClasses{HKEY_LOCAL_MACHINE};
const Classes kUserClasses{HKEY_CURRENT_USER};

const std::vector<std::wstring> kScriptClassKeys = {std::wstring(L"AppID\\") + kAppId,
                                                    L"AppID\\KVShake.DLL", L"KVShake.ShakeBHO.1",
                                                    L"KVShake.ShakeBHO", kObject};
const std::vector<std::wstring> kTypeLibraryKeys = {
    std::wstring(L"TypeLib\\") + kLibId, L"Interface\\{F743C3A5-5319-4FD4-AB3B-0FBDA9B8BB22}"};
const std::vector<std::wstring> kNeighbourKeys = {std::wstring(L"AppID\\") + kNeighbour,
                                                  std::wstring(L"CLSID\\") + kNeighbour};

void RemoveEverything() {
    for (const Classes& classes : {kMachineClasses, kUserClasses}) {
        for (const auto* keys : {&kScriptClassKeys, &kTypeLibraryKeys, &kNeighbourKeys}) {
            for (const std::wstring& key : *keys) DeleteTree(classes.root, classes + key);
        }
    }
    for (const wchar_t* parent : {kBhoParent, kExtensionsParent}) {
        for (const wchar_t* key : {kClsid, kButton, kNeighbour}) {
            DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(parent) + L"\\" + key);
        }
    }
}

std::wstring Text(const unique_bstr& text) { return text ? text.get() : L""; }

// Exactly the keys and values of scripts 101 and 102 with the class keys in `classes` (and none
// in the other place), and the type library as the registry finds it.
void ExpectRegistered(const Classes& classes, const std::wstring& module) {
    const struct {
        std::wstring path;
        std::vector<RegValue> values;
        DWORD subkeys;
    } keys[] = {
        {classes + L"AppID\\" + kAppId, {Sz(L"", L"KVShake")}, 0},
        {classes + L"AppID\\KVShake.DLL", {Sz(L"AppID", kAppId)}, 0},
        {classes + L"KVShake.ShakeBHO.1", {Sz(L"", L"ShakeBHO Class")}, 1},
        {classes + L"KVShake.ShakeBHO.1\\CLSID", {Sz(L"", kClsid)}, 0},
        {classes + L"KVShake.ShakeBHO", {Sz(L"", L"ShakeBHO Class")}, 2},
        {classes + L"KVShake.ShakeBHO\\CLSID", {Sz(L"", kClsid)}, 0},
        {classes + L"KVShake.ShakeBHO\\CurVer", {Sz(L"", L"KVShake.ShakeBHO.1")}, 0},
        {classes + kObject, {Sz(L"", L"ShakeBHO Class")}, 5},
        {classes + kObject + L"\\ProgID", {Sz(L"", L"KVShake.ShakeBHO.1")}, 0},
        {classes + kObject + L"\\VersionIndependentProgID", {Sz(L"", L"KVShake.ShakeBHO")}, 0},
        {classes + kObject + L"\\Programmable", {}, 0},
        {classes + kObject + L"\\InprocServer32",
         {Sz(L"", module), Sz(L"ThreadingModel", L"Apartment")},
         0},
        {classes + kObject + L"\\TypeLib", {Sz(L"", kLibId)}, 0},
    };
    for (const auto& key : keys) {
        EXPECT_TRUE(KeyHoldsExactly(classes.root, key.path, key.values, key.subkeys));
    }
    // The browser's own keys are HKLM's in either mode.
    EXPECT_TRUE(KeyHoldsExactly(HKEY_LOCAL_MACHINE, kBhoKey,
                                {Sz(L"", L"ShakeBHO Class"), Dword(L"NoExplorer", 1)}, 0));
    EXPECT_TRUE(KeyHoldsExactly(
        HKEY_LOCAL_MACHINE, kButtonKey,
        {Sz(L"ButtonText", L"点亮摇一摇"), Sz(L"Icon", module + L",214"),
         Sz(L"HotIcon", module + L",214"), Sz(L"CLSID", L"{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}"),
         Sz(L"ClsidExtension", kClsid), Sz(L"Default Visible", L"yes")},
        0));
    const Classes& other = classes.root == HKEY_LOCAL_MACHINE ? kUserClasses : kMachineClasses;
    for (const std::wstring& key : kScriptClassKeys) {
        EXPECT_FALSE(KeyExists(other.root, other + key)) << "class key in the other place";
    }

    Microsoft::WRL::ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_MySolutionPluginLib, 1, 0, LOCALE_NEUTRAL, &library), S_OK);
    unique_bstr name, doc, path;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), L"MySolutionPluginLib");
    EXPECT_EQ(Text(doc).substr(0, 12), L"KVShake 1.0 ");
    // Stored as GBK bytes, the help string reads back whole on a Chinese system only.
    if (::GetACP() == 936) {
        EXPECT_EQ(Text(doc), L"KVShake 1.0 类型库");
    }
    ASSERT_EQ(::QueryPathOfRegTypeLib(LIBID_MySolutionPluginLib, 1, 0, LOCALE_NEUTRAL, path.put()),
              S_OK);
    EXPECT_EQ(::lstrcmpiW(Text(path).c_str(), module.c_str()), 0) << "registered for the module";
}

void ExpectNothingRegistered() {
    for (const Classes& classes : {kMachineClasses, kUserClasses}) {
        for (const auto* keys : {&kScriptClassKeys, &kTypeLibraryKeys}) {
            for (const std::wstring& key : *keys) {
                EXPECT_FALSE(KeyExists(classes.root, classes + key))
                    << (classes.root == HKEY_LOCAL_MACHINE ? "HKLM " : "HKCU ") << key;
            }
        }
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kButtonKey));
}

// The HRESULT that kvshake_regtool prints: the export called in a process of its own.
std::string RegTool(const std::wstring& arguments) {
    const ProgramRun run =
        RunProgram(L"\"" + BesideThisProgram(L"kvshake_regtool.exe") + L"\" " + arguments);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    return run.output.substr(0, run.output.find_first_of("\r\n"));
}

HRESULT Regsvr32(const std::wstring& options) {
    const ProgramRun run = RunProgram(L"regsvr32.exe " + options + L" \"" + ModulePath() + L"\"");
    return run.exitCode == 0 ? S_OK : E_FAIL;
}

using PlainExport = HRESULT(STDAPICALLTYPE*)();
using InstallExport = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

// The module loaded into this program. DllInstall is only ever called here without "user": the
// per-user switch would stay on for the rest of the process.
class RegistrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(module_ && registerServer_ && unregisterServer_ && install_);
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(module_, path, MAX_PATH);
        modulePath_ = path;
        RemoveEverything();
    }
    void TearDown() override { RemoveEverything(); }

    const HMODULE module_ = ::LoadLibraryW(ModulePath().c_str());
    const PlainExport registerServer_ = ExportOf<PlainExport>(module_, "DllRegisterServer");
    const PlainExport unregisterServer_ = ExportOf<PlainExport>(module_, "DllUnregisterServer");
    const InstallExport install_ = ExportOf<InstallExport>(module_, "DllInstall");
    std::wstring modulePath_;
};

// Under the Chinese code page, where the type library's help string reads back whole.
TEST_F(RegistrationTest, EachWayInWritesEveryKeyAndTheTypeLibraryAndItsWayOutRemovesThemCp936) {
    ASSERT_EQ(::GetACP(), 936u);
    const struct {
        const char* name;
        std::function<HRESULT()> in, out;
    } ways[] = {
        {"exports", registerServer_, unregisterServer_},
        {"DllInstall", [this] { return install_(TRUE, nullptr); },
         [this] { return install_(FALSE, nullptr); }},
        {"regsvr32", [] { return Regsvr32(L"/s"); }, [] { return Regsvr32(L"/u /s"); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        ASSERT_EQ(way.in(), S_OK);
        ExpectRegistered(kMachineClasses, modulePath_);
        ASSERT_EQ(way.out(), S_OK);
        ExpectNothingRegistered();
    }
}

// ForceRemove keys start afresh on a second registration; unregistration keeps NoRemove parents
// and whatever else they hold.
TEST_F(RegistrationTest, ForceRemoveKeysStartAfreshAndSharedParentsStay) {
    ASSERT_EQ(registerServer_(), S_OK);
    for (const std::wstring& key : {kMachineClasses + kObject, kBhoKey, kButtonKey}) {
        SetString(HKEY_LOCAL_MACHINE, key, L"Stale", L"planted");
        SetString(HKEY_LOCAL_MACHINE, key + L"\\Stale", L"", L"planted");
    }
    ASSERT_EQ(registerServer_(), S_OK);
    ExpectRegistered(kMachineClasses, modulePath_);

    const std::wstring neighbours[] = {kMachineClasses + kNeighbourKeys[0],
                                       kMachineClasses + kNeighbourKeys[1],
                                       std::wstring(kBhoParent) + L"\\" + kNeighbour,
                                       std::wstring(kExtensionsParent) + L"\\" + kNeighbour};
    for (const std::wstring& key : neighbours) SetString(HKEY_LOCAL_MACHINE, key, L"", L"theirs");
    ASSERT_EQ(unregisterServer_(), S_OK);
    ExpectNothingRegistered();
    for (const std::wstring& key : neighbours) EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key));
}

// "user" in any case, and nothing else, installs for the current user; in a fresh process each,
// since per-user mode stays on for the process.
TEST_F(RegistrationTest, InstallCommandLineChoosesPerUserOrPerMachine) {
    const std::pair<const wchar_t*, const Classes&> cases[] = {{L"user", kUserClasses},
                                                               {L"USER", kUserClasses},
                                                               {L"users", kMachineClasses},
                                                               {L"/user", kMachineClasses}};
    for (const auto& [commandLine, classes] : cases) {
        const std::wstring quoted = std::wstring(L" \"") + commandLine + L"\"";
        SCOPED_TRACE(quoted);
        EXPECT_EQ(RegTool(L"install 1" + quoted), "0x00000000");
        ExpectRegistered(classes, ModulePath());
        EXPECT_EQ(RegTool(L"install 0" + quoted), "0x00000000");
        ExpectNothingRegistered();
        RemoveEverything();
    }
}

TEST_F(RegistrationTest, AFailureMidwayStopsThereAndInstallTakesBackWhatItWrote) {
    // Only volatile keys may go below a volatile key: script 102 fails on its second key.
    const std::wstring volatileKey = kMachineClasses + L"KVShake.ShakeBHO";
    CreateKey(HKEY_LOCAL_MACHINE, volatileKey, REG_OPTION_VOLATILE);
    // Registration gives the thread its own locale back whatever the outcome.
    const LCID saved = ::GetThreadLocale();
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(::SetThreadLocale(german));
    EXPECT_EQ(registerServer_(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(::GetThreadLocale(), german);
    // Script 101 and the start of 102 went in; nothing after the failing key did.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"AppID\\KVShake.DLL"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO.1"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + kObject));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId));
    RemoveEverything();
    EXPECT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(::GetThreadLocale(), german);
    ::SetThreadLocale(saved);

    RemoveEverything();
    CreateKey(HKEY_LOCAL_MACHINE, volatileKey, REG_OPTION_VOLATILE);
    EXPECT_EQ(RegTool(L"install 1"), "0x800703FD");  // ERROR_CHILD_MUST_BE_VOLATILE
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"KVShake.ShakeBHO.1"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, volatileKey));
}

// The fixed version agrees with the version texts, and a module's manifest is resource 2.
TEST_F(RegistrationTest, VersionResourceNamesTheModuleAndTheManifestAsksForTheHighestLevel) {
    DWORD handle = 0;
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(modulePath_.c_str(), &handle));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(modulePath_.c_str(), 0, static_cast<DWORD>(data.size()),
                                      data.data()));
    const auto query = [&data](const std::wstring& block) -> const void* {
        void* value = nullptr;
        UINT length = 0;
        return ::VerQueryValueW(data.data(), block.c_str(), &value, &length) ? value : nullptr;
    };
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"FileVersion", L"1.0.0.1"},
        {L"ProductVersion", L"1.0.0.1"},
        {L"OriginalFilename", L"KVShake.dll"}};
    for (const auto& [name, expected] : strings) {
        EXPECT_STREQ(static_cast<const wchar_t*>(
                         query(std::wstring(L"\\StringFileInfo\\040904B0\\") + name)),
                     expected)
            << name;
    }

    const HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(2), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const std::string manifest(
        static_cast<const char*>(::LockResource(::LoadResource(module_, found))),
        ::SizeofResource(module_, found));
    EXPECT_NE(manifest.find(R"(<requestedExecutionLevel level="highestAvailable")"),
              std::string::npos);
}

}  // namespace
}  // namespace kvshake::testing
