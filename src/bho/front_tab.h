#pragma once

#include <windows.h>

#include "service/front_tab.h"

namespace kvshake {

// How long a tab in front may take over a message. An upload runs its whole exchange with the
// service inside it, so this is generous; a tab whose thread has stopped pumping messages is
// given up on at once.
inline constexpr UINT kFrontTabReplyLimitMs = 60000;

// Sends message to the hidden window of the tab in front, g_HideWindowHwnd, which may belong to
// another process, and waits until that tab's thread has handled it, or until the tab is found
// hung or the limit is up (logged). A message to no window is lost. True when handled.
bool SendToFrontTab(UINT message, WPARAM wParam = 0) noexcept;

// The tab in front for the service layer: its calls become messages to the tab's hidden window.
class FrontTabMessenger final : public FrontTab {
  public:
    void Upload() noexcept override;
    void ShowActivation(bool active) noexcept override;
};

// The one messenger of the module.
FrontTabMessenger& TheFrontTab() noexcept;

}  // namespace kvshake
