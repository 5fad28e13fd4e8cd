#include "foundation/message_filter.h"

namespace kvshake {

namespace {

constexpr DWORD kAllowForWindow = 1;   // MSGFLT_ALLOW
constexpr DWORD kAllowForProcess = 1;  // MSGFLT_ADD

const MessageFilterFunctions* g_testFunctions = nullptr;

template <typename Function>
Function LookUp(HMODULE module, const char* name) noexcept {
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
               : nullptr;
}

}  // namespace

MessageFilterFunctions LookUpMessageFilterFunctions(HMODULE module) noexcept {
    MessageFilterFunctions functions{};
    functions.perWindow =
        LookUp<decltype(functions.perWindow)>(module, "ChangeWindowMessageFilterEx");
    functions.perProcess =
        LookUp<decltype(functions.perProcess)>(module, "ChangeWindowMessageFilter");
    return functions;
}

bool AllowMessagesFromLowerIntegrity(HWND window, std::initializer_list<UINT> messages) noexcept {
    const MessageFilterFunctions functions =
        g_testFunctions ? *g_testFunctions
                        : LookUpMessageFilterFunctions(::GetModuleHandleW(L"user32.dll"));
    for (const UINT message : messages) {
        const BOOL allowed =
            functions.perWindow    ? functions.perWindow(window, message, kAllowForWindow, nullptr)
            : functions.perProcess ? functions.perProcess(message, kAllowForProcess)
                                   : TRUE;  // no filter to open
        if (!allowed) return false;
    }
    return true;
}

void SetMessageFilterFunctionsForTesting(const MessageFilterFunctions* functions) noexcept {
    g_testFunctions = functions;
}

}  // namespace kvshake
