#include "support/registry_check.h"

#include <shlwapi.h>

#include <cstring>
#include <optional>

#include "foundation/text.h"
#include "foundation/unique_resource.h"

namespace kvshake::testing {
namespace {

unique_hkey Open(HKEY root, const std::wstring& path) {
    unique_hkey key;
    ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put());
    return key;
}

std::string Narrow(const std::wstring& text) { return WideToUtf8(text.c_str()).value_or("?"); }

std::string Describe(const RegValue& value) {
    const std::string name = value.name.empty() ? "(default)" : Narrow(value.name);
    if (value.type == REG_DWORD) return name + " = REG_DWORD " + std::to_string(value.number);
    if (value.type == REG_SZ) return name + " = REG_SZ '" + Narrow(value.text) + "'";
    return name + " of type " + std::to_string(value.type);
}

// Nothing when the key or the value is missing. A REG_SZ value must end with its terminator.
std::optional<RegValue> ReadValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    const unique_hkey key = Open(root, path);
    DWORD type = REG_NONE, bytes = 0;
    if (!key ||
        ::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<BYTE> data(bytes + sizeof(wchar_t));
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    RegValue value{name, type, L"", 0};
    if (type == REG_DWORD && bytes == sizeof(DWORD)) {
        std::memcpy(&value.number, data.data(), sizeof(DWORD));
    } else if (type == REG_SZ) {
        const auto* text = reinterpret_cast<const wchar_t*>(data.data());
        const size_t length = bytes / sizeof(wchar_t);
        if (bytes % sizeof(wchar_t) != 0 || length == 0 || text[length - 1] != L'\0') {
            value.type = REG_NONE;  // not stored as a terminated string
        } else {
            value.text.assign(text, length - 1);
        }
    }
    return value;
}

}  // namespace

bool KeyExists(HKEY root, const std::wstring& path) { return static_cast<bool>(Open(root, path)); }

::testing::AssertionResult KeyHoldsExactly(HKEY root, const std::wstring& path,
                                           const std::vector<RegValue>& values, DWORD subkeys) {
    const unique_hkey key = Open(root, path);
    if (!key) return ::testing::AssertionFailure() << "no key " << Narrow(path);
    DWORD subkeyCount = 0, valueCount = 0;
    ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr,
                       &valueCount, nullptr, nullptr, nullptr, nullptr);
    if (subkeyCount != subkeys || valueCount != values.size()) {
        return ::testing::AssertionFailure()
               << Narrow(path) << " has " << subkeyCount << " subkeys and " << valueCount
               << " values, expected " << subkeys << " and " << values.size();
    }
    for (const RegValue& expected : values) {
        const std::optional<RegValue> actual = ReadValue(root, path, expected.name.c_str());
        if (!actual || actual->type != expected.type || actual->text != expected.text ||
            actual->number != expected.number) {
            return ::testing::AssertionFailure()
                   << Narrow(path) << ": expected " << Describe(expected) << ", found "
                   << (actual ? Describe(*actual) : std::string("nothing"));
        }
    }
    return ::testing::AssertionSuccess();
}

void CreateKey(HKEY root, const std::wstring& path, DWORD options) {
    unique_hkey key;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS)
        << Narrow(path);
}

void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    unique_hkey key;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
        ERROR_SUCCESS);
}

void DeleteTree(HKEY root, const std::wstring& path) {
    const LSTATUS status = static_cast<LSTATUS>(::SHDeleteKeyW(root, path.c_str()));
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        << Narrow(path) << ": " << status;
}

}  // namespace kvshake::testing
