#pragma once

#include <windows.h>

#include "service/front_tab.h"

namespace kvshake {

// The tab in front for the service layer: its calls become messages to the tab's hidden window.
class FrontTabMessenger final : public FrontTab {
  public:
    void Upload() noexcept override;
    void ShowActivation(bool active) noexcept override;
};

// The one messenger of the module.
FrontTabMessenger& TheFrontTab() noexcept;

}  // namespace kvshake
