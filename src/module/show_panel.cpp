// The panel without the browser's toolbar: "rundll32.exe KVShake.dll,ShowPanel" opens it as a
// window of its own, with a taskbar button. Browsers that show no toolbar buttons (Internet
// Explorer mode in Edge) are bound this way. The login, the status and the settings pages work
// as in the panel of a tab; the tabs' check threads take the checker role once it has activated.
#include <windows.h>
#include <ole2.h>

#include <utility>

#include "bho/front_tab.h"
#include "bho/hidden_window.h"
#include "bho/panel_link.h"
#include "bho/shake_bho.h"
#include "com/module.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"
#include "panel/page_routing.h"
#include "panel/panel_connection.h"
#include "resources/resource.h"
#include "service/activation.h"

namespace kvshake {
namespace {

constexpr wchar_t kTitle[] = L"摇一摇传图";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// As large as the largest page: the window alone decides how much of it shows.
constexpr RECT kControlRect = {0, 0, 520, 360};
// Posted to itself once shown: a machine run that this panel began activates a bound browser.
constexpr UINT WM_ACTIVATE_AT_START = WM_APP + 1;
constexpr UINT kOtherPanelReplyMs = 5000;

// Another panel is open: it is brought back instead of a second one, as the toolbar does.
void BringBack(HWND panel) {
    if (!IsPanelWindow(panel)) return;
    WriteLog("ShowPanel Show Window");
    ::SendMessageTimeoutW(panel, WM_REFRESH_PAGE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                          kOtherPanelReplyMs, nullptr);
    ::ShowWindowAsync(panel, ::IsIconic(panel) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(panel);
}

bool RegisterPanelClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    // Shared icons: the system frees them with the module.
    windowClass.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_SHAKE),
                                                        IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                        ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_SHAKE), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kStandalonePanelClass;
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The panel's window and its browser, on the thread that runs ShowPanel. It is the machine's
// panel (g_hwnd) while it is open, so that a toolbar button pressed meanwhile shows this one and
// the page routing, which finds the panel there, sizes this window.
class StandalonePanel final : public PanelOwner {
  public:
    StandalonePanel() = default;
    StandalonePanel(const StandalonePanel&) = delete;
    StandalonePanel& operator=(const StandalonePanel&) = delete;
    ~StandalonePanel() {
        if (window_) ::DestroyWindow(window_);
    }

    // False when no window was opened: it could not be made, or another panel was shown.
    bool Open(int show);

    // No tab here: the activation starts no check thread and shows on the front tab's button.
    void activate() override { ActivateFromPanel(nullptr); }
    void unActive() override {
        if (Inactivate()) TheFrontTab().ShowActivation(false);
    }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    ShowBrowserPtr browser_;
};

bool StandalonePanel::Open(int show) {
    const bool beganRun = StartMachineRun();
    if (!beganRun && SharedState().g_bLogEnabled) EnableLog(true);
    WriteLog("ShowPanel Start");
    const HWND existing = SharedState().g_hwnd;
    if (IsPanelWindow(existing)) {
        BringBack(existing);
        return false;
    }
    const HINSTANCE instance = Module().Instance();
    if (!RegisterPanelClass(instance, Procedure)) {
        WriteError(StringPrintf("ShowPanel RegisterClass Error, ErrorCode:%d",
                                static_cast<int>(::GetLastError())));
        return false;
    }
    bool bound = false;
    {
        ScopedNamedMutex lock(kMutexForActive, mutex_holders.g_hMutexForActive);
        bound = lock.Held() && TokenStored();
    }
    window_ = ::CreateWindowExW(WS_EX_APPWINDOW, kStandalonePanelClass, kTitle, kStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                nullptr, instance, this);
    if (!window_) {
        WriteError(StringPrintf("ShowPanel Create Window Fail, ErrorCode:%d",
                                static_cast<int>(::GetLastError())));
        return false;
    }
    if (!ClaimPanel(window_, existing)) {
        ::DestroyWindow(std::exchange(window_, nullptr));
        BringBack(SharedState().g_hwnd);
        return false;
    }
    LetPrivateMessagesIn(window_);  // a Protected Mode tab's press refreshes this panel
    ResizePanel(bound ? kStatusPage : kLoginPage);
    browser_.reset(
        ThePanelLink().createBrowser(*this, window_, kControlRect, bound ? kStatusUrl : kLoginUrl));
    ::ShowWindow(window_, show);
    ::UpdateWindow(window_);
    ::SetForegroundWindow(window_);
    if (beganRun && bound) ::PostMessageW(window_, WM_ACTIVATE_AT_START, 0, 0);
    return true;
}

// Thin: the panel comes with the window's creation, and every message goes on to it.
LRESULT CALLBACK StandalonePanel::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* panel = reinterpret_cast<StandalonePanel*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!panel) return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return panel->Handle(window, message, wParam, lParam);
    } catch (...) {
        WriteError("The panel's window ended a message on an exception");
        return 0;
    }
}

LRESULT StandalonePanel::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GOPAGE: {
            if (wParam != GoPageKey()) return 0;
            const auto* url = reinterpret_cast<const wchar_t*>(lParam);
            WriteWCharLog("GoPage: ", url);
            if (browser_) ThePanelLink().navigate(*browser_, url);
            return 0;
        }
        case WM_REFRESH_PAGE:
            if (browser_) RefreshPanelPage(*browser_);
            return 0;
        case WM_SHOW_PANEL:
            MovePanelTo(window, lParam);
            if (browser_) RefreshPanelPage(*browser_);
            BringPanelForward(window);
            return 0;
        case WM_ACTIVATE_AT_START:
            activate();
            if (browser_) RefreshPanelPage(*browser_);
            return 0;
        case WM_DESTROY:
            ForgetPanel(window);
            window_ = nullptr;
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

// Owns OLE on the calling thread for as long as it lives: the hosted control needs it.
class OleScope {
  public:
    OleScope() : result_(::OleInitialize(nullptr)) {}
    ~OleScope() {
        if (SUCCEEDED(result_)) ::OleUninitialize();
    }
    bool Ready() const { return SUCCEEDED(result_); }

  private:
    const HRESULT result_;
};

}  // namespace
}  // namespace kvshake

// rundll32's entry: opens the panel and returns once the user has closed it.
extern "C" void CALLBACK ShowPanel(HWND, HINSTANCE, LPSTR, int show) {
    try {
        const kvshake::OleScope ole;
        if (!ole.Ready()) return;
        kvshake::StandalonePanel panel;
        if (!panel.Open(show)) return;
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        kvshake::WriteLog("ShowPanel End");
    } catch (...) {
        kvshake::WriteError("ShowPanel ended on an exception");
    }
}
