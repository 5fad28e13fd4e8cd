#include "panel/ax_host_window.h"

#include <objbase.h>

#include <cwchar>
#include <new>

#include "com/module.h"
#include "panel/ax_host.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

// What a host window keeps in its user data, from WM_NCCREATE to WM_NCDESTROY.
struct HostWindow {
    ComPtr<AxHost> host;
    AxHostListener* listener = nullptr;
};

HostWindow* HostOf(HWND window) noexcept {
    return reinterpret_cast<HostWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW& create) noexcept {
    auto* state = new (std::nothrow) HostWindow;
    if (!state) return -1;
    state->listener = static_cast<AxHostListener*>(create.lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    CLSID clsid{};
    if (!create.lpszName ||
        FAILED(::CLSIDFromString(const_cast<LPOLESTR>(create.lpszName), &clsid))) {
        return -1;
    }
    state->host = AxHost::Create(window);
    if (!state->host || FAILED(state->host->CreateControl(clsid))) return -1;
    return 0;
}

void OnDestroy(HostWindow& state) noexcept {
    if (state.listener)
        state.listener->OnHostDestroying(state.host ? state.host->Control() : nullptr);
    if (state.host) state.host->Close();
}

void OnFinalMessage(HWND window, HostWindow* state) noexcept {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (!state) return;
    if (state->host) state->host->Close();  // creation failed: WM_DESTROY never came
    if (state->listener) state->listener->OnHostFinalMessage();
    delete state;
}

LRESULT CALLBACK AxHostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
        case WM_SIZE:
            if (HostWindow* state = HostOf(window); state && state->host) state->host->FitControl();
            break;
        case WM_DESTROY:
            if (HostWindow* state = HostOf(window)) OnDestroy(*state);
            break;
        case WM_NCDESTROY:
            OnFinalMessage(window, HostOf(window));
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

bool ClassRegistered() noexcept {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AxHostWindowProc;
    windowClass.hInstance = Module().Instance();
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kAxHostClass;
    return ::RegisterClassW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND CreateAxHostWindow(const wchar_t* clsidText, HWND parent, const RECT* rect, DWORD style,
                        DWORD exStyle, UINT id, AxHostListener* listener) noexcept {
    if (!ClassRegistered()) return nullptr;
    const int x = rect ? rect->left : CW_USEDEFAULT;
    const int y = rect ? rect->top : CW_USEDEFAULT;
    const int width = rect ? rect->right - rect->left : CW_USEDEFAULT;
    const int height = rect ? rect->bottom - rect->top : CW_USEDEFAULT;
    return ::CreateWindowExW(exStyle, kAxHostClass, clsidText, style, x, y, width, height, parent,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                             Module().Instance(), listener);
}

ComPtr<IUnknown> HostedControl(HWND host) noexcept {
    wchar_t className[64] = {};
    if (!::GetClassNameW(host, className, ARRAYSIZE(className)) ||
        std::wcscmp(className, kAxHostClass) != 0) {
        return nullptr;
    }
    const HostWindow* state = HostOf(host);
    return state && state->host ? ComPtr<IUnknown>(state->host->Control()) : nullptr;
}

void UnregisterAxHostClass() noexcept { ::UnregisterClassW(kAxHostClass, Module().Instance()); }

}  // namespace kvshake
