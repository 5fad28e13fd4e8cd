#include "panel/panel_connection.h"

#include <memory>
#include <new>

#include "panel/page_routing.h"
#include "panel/web_browser.h"

namespace kvshake {

namespace {

CWebBrowser* CreateBrowser(PanelOwner& owner, HWND panel, const RECT& rect, const wchar_t* url) {
    std::unique_ptr<CWebBrowser> browser(new (std::nothrow) CWebBrowser());
    if (!browser) return nullptr;
    browser->SetOwner(&owner);
    browser->CreateBrowser(panel, &rect);
    browser->Navigate(url);
    return browser.release();
}

const PanelLink kPanelLink = {
    CreateBrowser,
    [](CWebBrowser* browser) { delete browser; },
    [](CWebBrowser& browser) { browser.DestroyWindow(); },
    [](CWebBrowser& browser, const wchar_t* url) { browser.Navigate(url); },
    RefreshPanelPage,
};

}  // namespace

const PanelLink& ThePanelLink() noexcept { return kPanelLink; }

}  // namespace kvshake
