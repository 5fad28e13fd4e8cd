// The panel's pages, sheets and pictures as the built module carries them. The browser serves
// "res://KVShake/<id>" from the module's HTML resources unchanged, so each must hold its file's
// bytes, and every "res://KVShake/<id>" a page or sheet names must be there.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>

#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// The build folders as Wine sees the Linux file system.
std::string HostFile(const std::string& path) { return "Z:" + path; }

std::string FileBytes(const std::string& path) {
    std::ifstream file(HostFile(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const std::map<int, std::string>& ResourceFiles() {
    static const std::string source = KVSHAKE_RESOURCES_DIR;
    static const std::map<int, std::string> files = {
        {201, KVSHAKE_LOGIN_PAGE},
        {203, source + "/pages/settings.html"},
        {204, source + "/pages/status.html"},
        {205, source + "/pages/status.css"},
        {206, source + "/pages/settings.css"},
        {216, source + "/pictures/sprite.png"},
        {217, source + "/pictures/gradient.png"},
        {223, source + "/pictures/tip_no_picture.png"},
        {224, source + "/pictures/tip_sending.png"},
    };
    return files;
}

class ResourcesTest : public ::testing::Test {
  protected:
    void TearDown() override { ::FreeLibrary(module_); }

    // The HTML resource id in Chinese (PRC), as the browser finds it; "absent" when it is not.
    std::string Served(int id) const {
        const HRSRC found = ::FindResourceExW(module_, RT_HTML, MAKEINTRESOURCEW(id),
                                              MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
        if (!found) return "absent";
        const char* bytes =
            static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
        return std::string(bytes, ::SizeofResource(module_, found));
    }

    const HMODULE module_ =
        ::LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
};

TEST_F(ResourcesTest, EachPageSheetAndPictureIsServedAsItsFileAndEveryAddressOfThemResolves) {
    ASSERT_TRUE(module_);
    for (const auto& [id, path] : ResourceFiles()) {
        const std::string file = FileBytes(path);
        ASSERT_FALSE(file.empty()) << path;
        EXPECT_TRUE(Served(id) == file) << "resource " << id << " differs from " << path;
    }

    const std::regex address(R"(res://KVShake/(\d+))");
    for (const int page : {201, 203, 204, 205, 206}) {
        const std::string text = Served(page);
        for (std::sregex_iterator named(text.begin(), text.end(), address), end; named != end;
             ++named) {
            const int id = std::stoi((*named)[1].str());
            EXPECT_NE(Served(id), "absent") << "resource " << page << " names " << id;
        }
    }
}

}  // namespace
}  // namespace kvshake::testing
