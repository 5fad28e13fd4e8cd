#include "support/test_paths.h"

#include <windows.h>

#include <atomic>

namespace kvshake::testing {

std::wstring BesideThisProgram(const wchar_t* fileName) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) >=
           path.size()) {
        path.resize(path.size() * 2);  // cut short: try again with more room
    }
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + fileName;
}

std::wstring ModulePath() { return BesideThisProgram(L"KVShake.dll"); }

std::wstring TestHostPath() { return BesideThisProgram(L"kvshake_testhost.exe"); }

std::wstring UniqueName(const wchar_t* prefix) {
    static std::atomic<unsigned> counter{0};
    return std::wstring(prefix) + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(++counter);
}

}  // namespace kvshake::testing
