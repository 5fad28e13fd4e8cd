// The registration exports against the test prefix's registry, and the module's resources.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "KVShake_h.h"
#include "com/scoped_variant.h"
#include "support/child_process.h"
#include "support/registry_check.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kClsid[] = L"{D3441990-2A84-4A2F-9D12-0B7F605DE4E9}";
constexpr wchar_t kBhoParent[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr wchar_t kExtensionsParent[] = L"Software\\Microsoft\\Internet Explorer\\Extensions";
constexpr wchar_t kButton[] = L"{1AC31710-6759-484f-A129-A70C55485DA1}";
constexpr wchar_t kNeighbour[] = L"{0F0F0F0F-1111-2222-3333-444444444444}";

const std::wstring kBhoKey = std::wstring(kBhoParent) + L"\\" + kClsid;
const std::wstring kButtonKey = std::wstring(kExtensionsParent) + L"\\" + kButton;
const std::wstring kObject = std::wstring(L"CLSID\\") + kClsid;

// Class keys: HKLM\Software\Classes per machine, the user's Software\Classes per user.
struct Classes {
    HKEY root;
    std::wstring operator+(const std::wstring& path) const { return L"Software\\Classes\\" + path; }
};
const Classes kMachineClasses{HKEY_LOCAL_MACHINE};
const Classes kUserClasses{HKEY_CURRENT_USER};

const std::vector<std::wstring> kScriptClassKeys = {
    L"AppID\\{1EEED60E-0AD3-4740-989C-6CA268313F93}", L"AppID\\KVShake.DLL", L"KVShake.ShakeBHO.1",
    L"KVShake.ShakeBHO", kObject};
// Another add-on's keys beside ours.
const std::wstring kNeighbours[] = {kMachineClasses + L"AppID\\" + kNeighbour,
                                    kMachineClasses + L"CLSID\\" + kNeighbour,
                                    std::wstring(kBhoParent) + L"\\" + kNeighbour,
                                    std::wstring(kExtensionsParent) + L"\\" + kNeighbour};

// Every key that the module writes, in either place.
std::vector<std::pair<HKEY, std::wstring>> OurKeys() {
    std::vector<std::pair<HKEY, std::wstring>> keys = {{HKEY_LOCAL_MACHINE, kBhoKey},
                                                       {HKEY_LOCAL_MACHINE, kButtonKey}};
    for (const Classes& classes : {kMachineClasses, kUserClasses}) {
        for (const std::wstring& key : kScriptClassKeys)
            keys.emplace_back(classes.root, classes + key);
        keys.emplace_back(classes.root,
                          classes + L"TypeLib\\{EF45DC82-7BBC-4BAF-A1F5-D1AFF6705823}");
        keys.emplace_back(classes.root,
                          classes + L"Interface\\{F743C3A5-5319-4FD4-AB3B-0FBDA9B8BB22}");
    }
    return keys;
}

void RemoveEverything() {
    for (const auto& [root, key] : OurKeys()) DeleteTree(root, key);
    for (const std::wstring& key : kNeighbours) DeleteTree(HKEY_LOCAL_MACHINE, key);
}

// Class keys in `classes` only, the browser's HKLM keys, the type library: each names the module.
void ExpectRegistered(const Classes& classes, const std::wstring& module) {
    const Classes& other = classes.root == HKEY_LOCAL_MACHINE ? kUserClasses : kMachineClasses;
    for (const std::wstring& key : kScriptClassKeys) {
        EXPECT_TRUE(KeyExists(classes.root, classes + key)) << "no class key";
        EXPECT_FALSE(KeyExists(other.root, other + key)) << "class key in the other place";
    }
    EXPECT_TRUE(KeyHoldsExactly(classes.root, classes + kObject + L"\\InprocServer32",
                                {Sz(L"", module), Sz(L"ThreadingModel", L"Apartment")}, 0));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey) &&
                KeyExists(HKEY_LOCAL_MACHINE, kButtonKey));
    unique_bstr path;
    ASSERT_EQ(::QueryPathOfRegTypeLib(LIBID_MySolutionPluginLib, 1, 0, LOCALE_NEUTRAL, path.put()),
              S_OK);
    EXPECT_EQ(::lstrcmpiW(path.get(), module.c_str()), 0) << "type library of another module";
}

// The HRESULT that kvshake_regtool prints: the export called in a process of its own.
std::string RegTool(const std::wstring& arguments) {
    const ProgramRun run =
        RunProgram(L"\"" + BesideThisProgram(L"kvshake_regtool.exe") + L"\" " + arguments);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    return run.output.substr(0, run.output.find_first_of("\r\n"));
}

using PlainExport = HRESULT(STDAPICALLTYPE*)();

// DllInstall goes through kvshake_regtool: its per-user switch stays on for the process.
class RegistrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(module_ && registerServer_ && unregisterServer_);
        RemoveEverything();
    }
    void TearDown() override { RemoveEverything(); }

    const HMODULE module_ = ::LoadLibraryW(ModulePath().c_str());
    const PlainExport registerServer_ = ExportOf<PlainExport>(module_, "DllRegisterServer");
    const PlainExport unregisterServer_ = ExportOf<PlainExport>(module_, "DllUnregisterServer");
};

TEST_F(RegistrationTest, ExportsWriteEveryKeyAndTheTypeLibraryAndTakeBackTheirOwnOnly) {
    ASSERT_EQ(registerServer_(), S_OK);
    ExpectRegistered(kMachineClasses, ModulePath());
    for (const std::wstring& key : kNeighbours) SetString(HKEY_LOCAL_MACHINE, key, L"", L"theirs");
    ASSERT_EQ(unregisterServer_(), S_OK);
    for (const auto& [root, key] : OurKeys()) EXPECT_FALSE(KeyExists(root, key)) << key;
    for (const std::wstring& key : kNeighbours) EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key));
}

// "user" in any case, and nothing else, installs per user; a fresh process each.
TEST_F(RegistrationTest, InstallCommandLineChoosesPerUserOrPerMachine) {
    EXPECT_EQ(RegTool(L"install 1 USER"), "0x00000000");
    ExpectRegistered(kUserClasses, ModulePath());
    RemoveEverything();
    EXPECT_EQ(RegTool(L"install 1 users"), "0x00000000");
    ExpectRegistered(kMachineClasses, ModulePath());
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

// The browser serves "res://KVShake/<id>" unchanged, in Chinese (PRC).
TEST_F(RegistrationTest, TheLoginPageIsTheBuilds) {
    const HRSRC page = ::FindResourceExW(module_, RT_HTML, MAKEINTRESOURCEW(201),
                                         MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_TRUE(page);
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module_, page)));
    std::ifstream login("Z:" KVSHAKE_LOGIN_PAGE, std::ios::binary);
    EXPECT_EQ(std::string(bytes, ::SizeofResource(module_, page)),
              std::string(std::istreambuf_iterator<char>(login), {}));
}

}  // namespace
}  // namespace kvshake::testing
