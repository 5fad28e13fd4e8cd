#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace kvshake {

class CWebBrowser;  // the panel's hosted browser, made by the panel layer

// Whom a panel works for: the tab whose toolbar button opened it, or the panel's own window when
// it was opened without the browser. Its login and its pages' switches activate and inactivate
// through it.
class PanelOwner {
  public:
    virtual void activate() = 0;
    virtual void unActive() = 0;

  protected:
    ~PanelOwner() = default;
};

// The panel's browser lives in the layer above the helper object; the module connects the two
// when it loads. Without a connection the helper object opens its panel window empty.
struct PanelLink {
    // A browser control hosted in the panel window at rect, owned by owner, showing url; null
    // when it cannot be made.
    CWebBrowser* (*createBrowser)(PanelOwner& owner, HWND panel, const RECT& rect,
                                  const wchar_t* url);
    void (*deleteBrowser)(CWebBrowser* browser);
    void (*closeBrowserWindow)(CWebBrowser& browser);  // the tab quits: the control window goes
    void (*navigate)(CWebBrowser& browser, const wchar_t* url);
    void (*refreshPage)(CWebBrowser& browser);  // the panel is shown again: its page follows
};

void ConnectPanel(const PanelLink* link) noexcept;
const PanelLink* Panel() noexcept;

// The panel's browser, owned by the helper object of the tab that created the panel.
struct ShowBrowserDeleter {
    void operator()(CWebBrowser* browser) const noexcept;
};
using ShowBrowserPtr = std::unique_ptr<CWebBrowser, ShowBrowserDeleter>;

// The panel's pages, carried in the module, and the names by which the panel is sized for them.
inline constexpr wchar_t kLoginUrl[] = L"res://KVShake/201";
inline constexpr wchar_t kSettingsUrl[] = L"res://KVShake/203";
inline constexpr wchar_t kStatusUrl[] = L"res://KVShake/204";
inline constexpr char kLoginPage[] = "login";
inline constexpr char kStatusPage[] = "reminder";
inline constexpr char kSettingsPage[] = "account";

// The panel's size for a page, width and height: 505 x 347 for the login page, 253 x 100 for the
// status page, 253 x 135 for the settings page.
SIZE PanelSizeOf(const char* pageName);

// The name of the panel window's class: "shakewindow" and the number of the tab that made it.
std::wstring PanelClassName(LONG tabNumber);

// The class of the panel window that "rundll32 KVShake.dll,ShowPanel" opens without a tab.
inline constexpr wchar_t kStandalonePanelClass[] = L"shakepanel";

// True while window is a live panel window of some tab, or the one ShowPanel opened, in any
// process; a handle of a panel that has gone may have been given to another window since.
bool IsPanelWindow(HWND window);

// The panel's top left corner as WM_SHOW_PANEL carries it: screen coordinates, each in a signed
// 16-bit half.
LPARAM PanelCornerParam(POINT corner) noexcept;

// On the panel's own thread, for a press in any tab: a Protected Mode tab may neither move nor
// show a window of a process of higher integrity. Moves panel to the corner that lParam carries,
// keeping its size, without repainting.
void MovePanelTo(HWND panel, LPARAM corner) noexcept;
// Then shows it (restored, if minimised) and brings it to the front, which the pressing tab
// allowed.
void BringPanelForward(HWND panel) noexcept;

// The panel window is going: the machine's panel record forgets it if it names it. True when it
// did.
bool ForgetPanel(HWND panel);

// The machine's panel record becomes panel if it still names expected (a panel that has gone, or
// none); one that another process has just taken is left to it. True when it did.
bool ClaimPanel(HWND panel, HWND expected);

}  // namespace kvshake
