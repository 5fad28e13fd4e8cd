#pragma once

#include "bho/panel_link.h"
#include "panel/web_browser.h"

namespace kvshake {

// Sizes the panel window for the page and places it at the toolbar button; a panel with a title
// bar (opened without the toolbar) keeps its place. Logs either way.
void ResizePanel(const char* pageName);

// Resizes the panel for the page, then has the panel's browser go to it.
void ShowPanelPage(const char* pageName, const wchar_t* url);

// The panel is shown again: a bound browser's status page shows the state anew, and a browser
// that is no longer bound goes to the login page.
void RefreshPanelPage(CWebBrowser& browser);

}  // namespace kvshake
