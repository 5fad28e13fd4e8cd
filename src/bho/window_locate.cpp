#include "bho/window_locate.h"

#include <algorithm>

#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {

constexpr LONG kAbovePageArea = 3;

// Moves [start, start + size) the least distance into [low, high); a panel larger than the
// area keeps its start at the area's start.
LONG KeptInside(LONG start, LONG size, LONG low, LONG high) {
    return std::max(low, std::min(start, high - size));
}

RECT WorkAreaAround(POINT anchor) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoW(::MonitorFromPoint(anchor, MONITOR_DEFAULTTONEAREST), &monitor)) {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &monitor.rcWork, 0);
    }
    return monitor.rcWork;
}

}  // namespace

POINT GetWindowLocate(int width, int height) {
    const SharedBlock& shared = SharedState();
    POINT anchor;
    POINT corner;
    if (shared.g_bFindButton) {
        anchor = {shared.g_ptLocate.x, shared.g_rcLocate.bottom};
        corner = {std::max<LONG>(0, anchor.x - width), anchor.y};
    } else if (shared.ButtonLocateType == kPageArea) {
        anchor = {shared.g_rcLocate.right, shared.g_rcLocate.top};
        corner = {anchor.x - width, anchor.y - kAbovePageArea};
    } else {
        anchor = shared.g_ptLocate;
        corner = anchor;
    }
    const RECT area = WorkAreaAround(anchor);
    corner.x = KeptInside(corner.x, width, area.left, area.right);
    corner.y = KeptInside(corner.y, height, area.top, area.bottom);
    WriteLog("GetWindowLocate, ButtonLocateType(0 toolbar, 1 website display, 2 other):" +
             StringPrintf("%d, x:%ld, y:%ld", static_cast<int>(shared.ButtonLocateType),
                          static_cast<long>(corner.x), static_cast<long>(corner.y)));
    return corner;
}

}  // namespace kvshake
