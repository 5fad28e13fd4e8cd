#pragma once

#include "bho/panel_link.h"

namespace kvshake {

// What the panel layer gives the helper object: the panel's browser, made and driven here.
const PanelLink& ThePanelLink() noexcept;

}  // namespace kvshake
