// The module's resources, read from the built file.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "KVShake_h.h"
#include "resources/resource.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;

// The layout of an RT_GROUP_ICON resource.
#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

class ResourcesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        module_ = ::LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() { ::FreeLibrary(module_); }
    void SetUp() override { ASSERT_NE(module_, nullptr); }

    static std::string Bytes(LPCWSTR type, LPCWSTR name) {
        HRSRC found = ::FindResourceW(module_, name, type);
        if (found == nullptr) return "";
        const void* data = ::LockResource(::LoadResource(module_, found));
        return std::string(static_cast<const char*>(data), ::SizeofResource(module_, found));
    }

    static HMODULE module_;
};

HMODULE ResourcesTest::module_ = nullptr;

class VersionInfo {
  public:
    explicit VersionInfo(const std::wstring& path) {
        DWORD handle = 0;
        data_.resize(::GetFileVersionInfoSizeW(path.c_str(), &handle));
        if (data_.empty() || !::GetFileVersionInfoW(
                                 path.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data())) {
            data_.clear();
        }
    }

    const void* Query(const std::wstring& block, UINT* bytes = nullptr) {
        void* value = nullptr;
        UINT length = 0;
        if (data_.empty() || !::VerQueryValueW(data_.data(), block.c_str(), &value, &length)) {
            return nullptr;
        }
        if (bytes) *bytes = length;
        return value;
    }

    std::wstring String(const wchar_t* name) {
        const auto* text = static_cast<const wchar_t*>(
            Query(std::wstring(L"\\StringFileInfo\\040904B0\\") + name));
        return text ? text : L"(missing)";
    }

  private:
    std::vector<BYTE> data_;
};

TEST_F(ResourcesTest, VersionResourceDescribesTheModule) {
    VersionInfo version(ModulePath());
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(version.Query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    UINT bytes = 0;
    const auto* translation =
        static_cast<const WORD*>(version.Query(L"\\VarFileInfo\\Translation", &bytes));
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(bytes, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(version.String(L"FileVersion"), L"1.0.0.1");
    EXPECT_EQ(version.String(L"ProductVersion"), L"1.0.0.1");
    EXPECT_EQ(version.String(L"InternalName"), L"KVShake.dll");
    EXPECT_EQ(version.String(L"OriginalFilename"), L"KVShake.dll");
    EXPECT_EQ(version.String(L"FileDescription"), L"Kovin Shake BHO");
    EXPECT_EQ(version.String(L"ProductName"), L"Kovin Shake BHO");
    EXPECT_EQ(version.String(L"CompanyName"), L"Kovin");
    EXPECT_NE(version.String(L"LegalCopyright"), L"(missing)");
}

TEST_F(ResourcesTest, ProjectNameString) {
    wchar_t text[64] = {};
    ASSERT_GT(::LoadStringW(module_, IDS_PROJNAME, text, 64), 0);
    EXPECT_STREQ(text, L"KVShake");
}

TEST_F(ResourcesTest, ManifestAsksForTheHighestAvailableLevelAndNothingElse) {
    const std::string manifest = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(2));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"highestAvailable\" "
                            "uiAccess=\"false\"/>"),
              std::string::npos);
    EXPECT_EQ(manifest.find("assemblyIdentity"), std::string::npos);
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
    EXPECT_EQ(manifest.find("compatibility"), std::string::npos);
}

TEST_F(ResourcesTest, IconHas32PixelImagesIn4And8And32BitColour) {
    const std::string group = Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_SHAKE));
    ASSERT_GE(group.size(), sizeof(IconGroupHeader));
    const auto* header = reinterpret_cast<const IconGroupHeader*>(group.data());
    ASSERT_EQ(header->type, 1);
    ASSERT_EQ(header->count, 3);
    ASSERT_EQ(group.size(), sizeof(IconGroupHeader) + 3 * sizeof(IconGroupEntry));
    const auto* entries = reinterpret_cast<const IconGroupEntry*>(header + 1);
    const WORD depths[] = {4, 8, 32};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].width, 32);
        EXPECT_EQ(entries[i].height, 32);
        EXPECT_EQ(entries[i].bitCount, depths[i]);
        std::string image = Bytes(RT_ICON, MAKEINTRESOURCEW(entries[i].id));
        ASSERT_EQ(image.size(), entries[i].bytes);
        HICON icon = ::CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()),
                                                static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                                32, 32, LR_DEFAULTCOLOR);
        EXPECT_NE(icon, nullptr);
        if (icon) ::DestroyIcon(icon);
    }
}

TEST_F(ResourcesTest, TypeLibraryIsTheFirstTypelibResource) {
    EXPECT_FALSE(Bytes(L"TYPELIB", MAKEINTRESOURCEW(1)).empty());
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, LIBID_MySolutionPluginLib);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    library->ReleaseTLibAttr(attributes);
    ComPtr<ITypeInfo> coclass;
    EXPECT_EQ(library->GetTypeInfoOfGuid(CLSID_ShakeBHO, &coclass), S_OK);
}

}  // namespace
}  // namespace kvshake::testing
