#include "bho/hidden_window.h"

#include <string_view>

#include "bho/browser_properties.h"
#include "bho/panel_link.h"
#include "bho/shake_bho.h"
#include "bho/tip_timer.h"
#include "com/module.h"
#include "foundation/log.h"
#include "foundation/message_filter.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {

constexpr wchar_t kHideWindowClassPrefix[] = L"HideWindow";
constexpr wchar_t kHideWindowTitle[] = L"Hide Window";
constexpr DWORD kHideWindowStyle = 0xEFFFFFFF;  // every style bit but WS_VISIBLE

CShakeBHO* ObjectOf(HWND window) {
    return reinterpret_cast<CShakeBHO*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

void LogLastError(const char* format) {
    WriteError(StringPrintf(format, static_cast<int>(::GetLastError())));
}

// Runs one private message for the object kept in the window's user data.
void DispatchPrivateMessage(CShakeBHO* bho, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_UP_UPLOAD) {
        WriteLog("Receive Msg:WM_UP_UPLOAD");
        if (!bho) WriteError("WM_UP_UPLOAD: the window has no helper object, nothing uploaded");
    }
    if (!bho) return;
    switch (message) {
        case WM_UP_UPLOAD:
            bho->uploadPic();
            break;
        case WM_RMTIP:
            bho->RemoveTip();
            break;
        case WM_ICON_ACTIVE:
            bho->SetToolBarIcon(true);
            break;
        case WM_ICON_INACTIVE:
            bho->SetToolBarIcon(false);
            break;
        case WM_GOPAGE:
            if (wParam == GoPageKey()) bho->GoPage(reinterpret_cast<const wchar_t*>(lParam));
            break;
        case WM_REFRESH_PAGE:
            bho->RefreshPanelPage();
            break;
        case WM_SHOW_PANEL:
            bho->ShowPanelHere(lParam);
            break;
        case WM_KEEP_CHECK_THREAD:
            bho->startCheckShake();
            break;
    }
}

void PaintNothing(HWND window) {
    PAINTSTRUCT paint;
    ::BeginPaint(window, &paint);
    ::EndPaint(window, &paint);
}

// Clears a shared window variable that names window; one that names another tab's stays.
void ForgetSharedWindow(SharedWindow& shared, HWND window) { shared.Exchange(window, nullptr); }

WPARAM MakeGoPageKey() noexcept {
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    ULONGLONG key = static_cast<ULONGLONG>(counter.QuadPart) * 0x9E3779B97F4A7C15ull;
    key ^= (static_cast<ULONGLONG>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount();
    key ^= reinterpret_cast<ULONG_PTR>(&counter) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<WPARAM>(key ^ (key >> 29)) | 1;
}

const WPARAM g_goPageKey = MakeGoPageKey();

}  // namespace

bool IsNumberedShakeWindow(HWND window, const wchar_t* prefix) {
    wchar_t className[64] = {};
    if (!window || !::IsWindow(window) ||
        !::GetClassNameW(window, className, ARRAYSIZE(className))) {
        return false;
    }
    const std::wstring_view name(className);
    const std::wstring_view start(prefix);
    return name.size() > start.size() && name.substr(0, start.size()) == start &&
           name.find_first_not_of(L"0123456789", start.size()) == std::wstring_view::npos;
}

bool IsHiddenWindow(HWND window) { return IsNumberedShakeWindow(window, kHideWindowClassPrefix); }

std::wstring HiddenWindowClassName(LONG tabNumber) {
    return kHideWindowClassPrefix + std::to_wstring(tabNumber);
}

void LetPrivateMessagesIn(HWND window) noexcept {
    if (!AllowMessagesFromLowerIntegrity(
            window, {WM_UP_UPLOAD, WM_RMTIP, WM_ICON_ACTIVE, WM_ICON_INACTIVE, WM_REFRESH_PAGE,
                     WM_SHOW_PANEL})) {
        WriteError(StringPrintf("Private messages not let in, Error Code:%d",
                                static_cast<int>(::GetLastError())));
    }
}

bool RegisterShakeWindowClass(const wchar_t* className) {
    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ShakeWindowProc;
    windowClass.hInstance = Module().Instance();
    windowClass.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = className;
    return ::RegisterClassW(&windowClass) != 0;
}

void CShakeBHO::InitHideWindow() {
    const std::wstring className = HiddenWindowClassName(m_nTabNumber);
    const HINSTANCE instance = Module().Instance();
    if (!RegisterShakeWindowClass(className.c_str())) {
        LogLastError("InitHideWindow, RegisterClass Error, Errorcode:%d");
        return;
    }

    m_hHideWnd = ::CreateWindowExW(0, className.c_str(), kHideWindowTitle, kHideWindowStyle, 100,
                                   100, 700, 500, nullptr, nullptr, instance, this);
    if (!m_hHideWnd) {
        LogLastError("InitHideWindow, CreateWindow Error, Errorcode:%d");
        ::UnregisterClassW(className.c_str(), instance);
        return;
    }
    WriteLog("InitHideWindow, CreateWindow Suc");
    LetPrivateMessagesIn(m_hHideWnd);
    PutBrowserProperty(m_spWebBrowser.Get(), kHideWindowProperty,
                       ScopedVariant::Int32(HandleToLong(m_hHideWnd)));
    // Whether a new tab is in the background is not known yet: the newest takes the shakes only
    // from a tab that the user has not seen, or that is gone (or is no hidden window of ours at
    // all: any process of the user may write the record). Where the browser reports no window
    // state (version 6) no tab is ever seen, and the newest is in front.
    const HWND front = SharedState().g_HideWindowHwnd;
    if (!SharedState().g_bFrontTabSeen || !IsHiddenWindow(front)) {
        SharedState().g_bFrontTabSeen = false;
        SharedState().g_HideWindowHwnd = m_hHideWnd;
    }
}

void BringTabToFront(HWND hiddenWindow) noexcept {
    if (!hiddenWindow) return;
    SharedState().g_HideWindowHwnd = hiddenWindow;
    SharedState().g_bFrontTabSeen = true;
}

// The tab has quit: its hidden window and the window's class go, and the shared variables that
// name the window forget it.
void CShakeBHO::CloseHideWindow() {
    if (!m_hHideWnd) return;
    const HWND window = std::exchange(m_hHideWnd, nullptr);
    ForgetSharedWindow(SharedState().g_HideWindowHwnd, window);
    ForgetSharedWindow(SharedState().g_NeedRemoveTipHwnd, window);
    DisarmTipTimer(window);
    ::DestroyWindow(window);
    ::UnregisterClassW(HiddenWindowClassName(m_nTabNumber).c_str(), Module().Instance());
}

// Thin: finds the object and hands each message on. The object of a window comes with its
// creation and stays in the window's user data. Every window holds a lock on the module from its
// first message to its last: its messages run the module's code, also after its object has gone.
LRESULT CALLBACK ShakeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: {
            Module().Lock();
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        case WM_NCDESTROY:
            Module().Unlock();
            return ::DefWindowProcW(window, message, wParam, lParam);
        case WM_DESTROY:
            ForgetPanel(window);  // however the panel goes, the next press makes a new one
            return 0;
        case WM_ACTIVATE:
            if (const HWND panel = SharedState().g_hwnd;
                LOWORD(wParam) == WA_INACTIVE && IsPanelWindow(panel)) {
                ::ShowWindow(panel, SW_HIDE);
            }
            return 0;
        case WM_PAINT:
            PaintNothing(window);
            return 0;
        case WM_UP_UPLOAD:
        case WM_RMTIP:
        case WM_ICON_ACTIVE:
        case WM_ICON_INACTIVE:
        case WM_GOPAGE:
        case WM_REFRESH_PAGE:
        case WM_SHOW_PANEL:
        case WM_KEEP_CHECK_THREAD:
            try {
                DispatchPrivateMessage(ObjectOf(window), message, wParam, lParam);
            } catch (...) {
                WriteError("A private message ended on an exception");
            }
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

// The tab the timer was armed for is on this thread: the message is handled at once.
void CALLBACK sendMsgRMTip(HWND, UINT, UINT_PTR timerId, DWORD) {
    WriteLog("sendMsgRMTip Start");
    ::KillTimer(nullptr, timerId);
    if (const HWND tabWindow = TakeTipTimerWindow(timerId)) {
        ::SendMessageW(tabWindow, WM_RMTIP, 0, 0);
    }
    WriteLog("sendMsgRMTip End");
}

void SendGoPageMsg(const wchar_t* url) {
    WriteLog("SendGoPageMsg Start");
    const HWND panel = SharedState().g_hwnd;
    DWORD processId = 0;
    if (IsPanelWindow(panel) && ::GetWindowThreadProcessId(panel, &processId) &&
        processId == ::GetCurrentProcessId()) {
        ::SendMessageW(panel, WM_GOPAGE, GoPageKey(), reinterpret_cast<LPARAM>(url));
    }
    WriteLog("SendGoPageMsg End");
}

WPARAM GoPageKey() noexcept { return g_goPageKey; }

}  // namespace kvshake
