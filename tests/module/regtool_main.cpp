// kvshake_regtool.exe: calls one registration export of KVShake.dll (beside this program) in a
// process of its own and prints the HRESULT as 0x%08lX. For the cases that need a fresh process:
// per-user mode, once on, stays on for the life of the process.
//   kvshake_regtool register | unregister | install <0|1> [cmdline]
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "support/test_paths.h"

namespace {

using PlainExport = HRESULT(STDAPICALLTYPE*)();
using InstallExport = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

int Usage() {
    std::fputs("usage: kvshake_regtool register | unregister | install <0|1> [cmdline]\n", stderr);
    return 2;
}

bool Call(HMODULE module, int argc, wchar_t** argv, HRESULT& result) {
    const std::wstring command = argv[1];
    if (command == L"register" || command == L"unregister") {
        const auto function = kvshake::testing::ExportOf<PlainExport>(
            module, command == L"register" ? "DllRegisterServer" : "DllUnregisterServer");
        if (function == nullptr) return false;
        result = function();
        return true;
    }
    const auto install = kvshake::testing::ExportOf<InstallExport>(module, "DllInstall");
    if (command != L"install" || argc < 3 || install == nullptr) return false;
    result = install(std::wcstol(argv[2], nullptr, 10) != 0, argc > 3 ? argv[3] : nullptr);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    HMODULE module = ::LoadLibraryW(kvshake::testing::ModulePath().c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "KVShake.dll did not load: %lu\n", ::GetLastError());
        return 1;
    }
    HRESULT result = E_FAIL;
    if (!Call(module, argc, argv, result)) return Usage();
    std::printf("0x%08lX\n", static_cast<unsigned long>(result));
    return 0;
}
