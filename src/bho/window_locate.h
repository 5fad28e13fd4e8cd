#pragma once

#include <windows.h>

namespace kvshake {

// Where the last toolbar command came from (the shared block's ButtonLocateType).
enum ButtonLocate : LONG { kToolbar = 0, kPageArea = 1, kOther = 2 };

// Where a panel of the given width goes, from the anchor that the last toolbar command left in
// the shared block: under the toolbar button, its right edge at the button's; else at the top
// right corner of the page area, 3 pixels higher; else at the cursor. The panel is then moved
// the least distance that keeps it inside the work area of the monitor that holds the anchor.
POINT GetWindowLocate(int width, int height);

}  // namespace kvshake
