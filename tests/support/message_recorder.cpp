#include "support/message_recorder.h"

#include <algorithm>

namespace kvshake::testing {
namespace {
// A hidden window's class, of a tab number that no test reaches: the module sends to a window
// named in the machine run only when its class is one of the module's.
constexpr wchar_t kClassName[] = L"HideWindow9999";
}  // namespace

MessageRecorder::MessageRecorder(const wchar_t* className) {
    className = className ? className : kClassName;
    RegisterWindowClass(className, Procedure);
    window_ = ::CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                ThisModule(), this);
}

MessageRecorder::~MessageRecorder() { ::DestroyWindow(window_); }

size_t MessageRecorder::Count(UINT message) const {
    return static_cast<size_t>(std::count(received_.begin(), received_.end(), message));
}

void MessageRecorder::Pump(DWORD ms) {
    WaitUntil([] { return false; }, ms);
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = name;
    return ::RegisterClassW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    // Elapsed time as a difference of tick counts stays right across the counter's wrap.
    const DWORD start = ::GetTickCount();
    for (DWORD elapsed = 0; !condition(); elapsed = ::GetTickCount() - start) {
        if (elapsed >= timeoutMs) return false;
        // A message wakes the wait at once; the condition is looked at again at least every 50 ms.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(timeoutMs - elapsed, 50),
                                    QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    return true;
}

bool WaitFor(HANDLE object, DWORD timeoutMs) {
    return WaitUntil([object] { return ::WaitForSingleObject(object, 0) == WAIT_OBJECT_0; },
                     timeoutMs);
}

LRESULT CALLBACK MessageRecorder::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* recorder = reinterpret_cast<MessageRecorder*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (recorder && message >= WM_USER && message < WM_USER + 100) {
        recorder->received_.push_back(message);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kvshake::testing
