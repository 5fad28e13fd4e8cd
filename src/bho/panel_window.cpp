// The panel window of the tab whose toolbar command made it, and what the helper object asks of
// the panel's browser, which the panel layer provides.
#include <windowsx.h>

#include <cstring>

#include "bho/browser_properties.h"
#include "bho/hidden_window.h"
#include "bho/panel_link.h"
#include "bho/shake_bho.h"
#include "bho/window_locate.h"
#include "com/module.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {

constexpr wchar_t kPanelClassPrefix[] = L"shakewindow";
constexpr wchar_t kPanelTitle[] = L"Win32 API";
constexpr DWORD kPanelStyle = 0x90880000;  // WS_POPUP | WS_VISIBLE | WS_BORDER | WS_SYSMENU
constexpr LONG kStatusControlRight = 520, kStatusControlBottom = 360;

const PanelLink* g_panelLink = nullptr;

bool TokenStoredUnderLock() {
    ScopedNamedMutex lock(kMutexForActive, mutex_holders.g_hMutexForActive);
    return lock.Held() && TokenStored();
}

// The machine's one panel record is changed by tabs and panels of every process at once.
bool ExchangePanelRecord(HWND expected, HWND replacement) {
    return SharedState().g_hwnd.Exchange(expected, replacement);
}

}  // namespace

void ConnectPanel(const PanelLink* link) noexcept { g_panelLink = link; }
const PanelLink* Panel() noexcept { return g_panelLink; }

void ShowBrowserDeleter::operator()(CWebBrowser* browser) const noexcept {
    if (browser && g_panelLink) g_panelLink->deleteBrowser(browser);
}

SIZE PanelSizeOf(const char* pageName) {
    if (std::strcmp(pageName, kStatusPage) == 0) return {253, 100};
    if (std::strcmp(pageName, kSettingsPage) == 0) return {253, 135};
    return {505, 347};
}

std::wstring PanelClassName(LONG tabNumber) {
    return kPanelClassPrefix + std::to_wstring(tabNumber);
}

bool IsPanelWindow(HWND window) {
    wchar_t className[64] = {};
    if (window && ::GetClassNameW(window, className, ARRAYSIZE(className)) &&
        std::wcscmp(className, kStandalonePanelClass) == 0) {
        return true;
    }
    return IsNumberedShakeWindow(window, kPanelClassPrefix);
}

bool ForgetPanel(HWND panel) {
    if (!panel || !ExchangePanelRecord(panel, nullptr)) return false;
    SharedState().g_bWindowCreated = false;
    return true;
}

bool ClaimPanel(HWND panel, HWND expected) {
    if (IsPanelWindow(expected) || !ExchangePanelRecord(expected, panel)) return false;
    SharedState().g_bWindowCreated = true;
    return true;
}

LPARAM PanelCornerParam(POINT corner) noexcept {
    return MAKELPARAM(static_cast<WORD>(corner.x), static_cast<WORD>(corner.y));
}

void MovePanelTo(HWND panel, LPARAM corner) noexcept {
    ::SetWindowPos(panel, nullptr, GET_X_LPARAM(corner), GET_Y_LPARAM(corner), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

void BringPanelForward(HWND panel) noexcept {
    ::ShowWindow(panel, ::IsIconic(panel) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(panel);
}

bool CShakeBHO::CreatePanel() {
    ClosePanel();  // a panel of this tab that was closed from outside leaves its class behind
    // What the record names now: a window that is gone is replaced, a live panel is not.
    const HWND previous = SharedState().g_hwnd;
    SharedState().g_bWindowCreated = true;
    SHANDLE_PTR top = 0;
    if (m_spWebBrowser) m_spWebBrowser->get_HWND(&top);
    WriteLog("Begin Create Window");
    const std::wstring className = PanelClassName(m_nTabNumber);
    const HINSTANCE instance = Module().Instance();
    if (!RegisterShakeWindowClass(className.c_str())) {
        WriteError(StringPrintf("Exec RegisterClass Error, ErrorCode:%d",
                                static_cast<int>(::GetLastError())));
        return false;
    }
    const bool bound = TokenStoredUnderLock();
    const SIZE size = PanelSizeOf(bound ? kStatusPage : kLoginPage);
    const POINT corner = GetWindowLocate(size.cx, size.cy);
    m_hShowWnd =
        ::CreateWindowExW(WS_EX_TOOLWINDOW, className.c_str(), kPanelTitle, kPanelStyle, corner.x,
                          corner.y, size.cx, size.cy, FindIES(), nullptr, instance, this);
    const DWORD error = ::GetLastError();
    if (!top) {
        WriteError("Before Create Window, hWndBrowser null");
    } else if (!instance) {
        WriteError("Before Create Window, hInstance null");
    }
    if (!m_hShowWnd) {
        WriteError(StringPrintf("Exec,Create Window Fail, ErrorCode:%d", static_cast<int>(error)));
        if (!top) WriteError("hWndBrowser Null");
        ::UnregisterClassW(className.c_str(), instance);
        return false;
    }
    WriteLog("Create Window Suc");
    // Another process may have made the machine's panel meanwhile: that one stays, this one goes.
    if (!ClaimPanel(m_hShowWnd, previous)) {
        WriteLog("Another panel is open, this one is closed");
        ClosePanel();
        return false;
    }
    LetPrivateMessagesIn(m_hShowWnd);
    RECT client{};
    ::GetClientRect(m_hShowWnd, &client);
    PutBrowserProperty(m_spWebBrowser.Get(), kCreateShowWindowProperty,
                       ScopedVariant::BoolValue(1));
    if (bound) {
        client.right = kStatusControlRight;
        client.bottom = kStatusControlBottom;
    }
    if (g_panelLink) {
        m_pShowBrowser.reset(
            g_panelLink->createBrowser(*this, m_hShowWnd, client, bound ? kStatusUrl : kLoginUrl));
    }
    ::ShowWindow(m_hShowWnd, SW_SHOWDEFAULT);
    ::UpdateWindow(m_hShowWnd);
    return true;
}

// The panel goes with the tab that made it: its browser is this object's, and a panel window
// left behind would name an object that is gone.
void CShakeBHO::ClosePanel() {
    if (m_pShowBrowser && g_panelLink) g_panelLink->closeBrowserWindow(*m_pShowBrowser);
    m_pShowBrowser.reset();
    if (!m_hShowWnd) return;
    // One closed from outside has gone already, and its handle may name another window since.
    if (const HWND panel = std::exchange(m_hShowWnd, nullptr); IsPanelWindow(panel)) {
        ::DestroyWindow(panel);
    }
    ::UnregisterClassW(PanelClassName(m_nTabNumber).c_str(), Module().Instance());
}

void CShakeBHO::GoPage(const wchar_t* url) {
    WriteWCharLog("GoPage: ", url);
    if (m_pShowBrowser && g_panelLink) g_panelLink->navigate(*m_pShowBrowser, url);
}

void CShakeBHO::RefreshPanelPage() {
    if (m_pShowBrowser && g_panelLink) g_panelLink->refreshPage(*m_pShowBrowser);
}

void CShakeBHO::ShowPanelHere(LPARAM corner) {
    if (!IsPanelWindow(m_hShowWnd)) return;
    MovePanelTo(m_hShowWnd, corner);
    RefreshPanelPage();
    BringPanelForward(m_hShowWnd);
}

}  // namespace kvshake
