#include "bho/front_tab.h"

#include "bho/hidden_window.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

bool SendToFrontTab(UINT message, WPARAM wParam) noexcept {
    const HWND front = shake_da.g_HideWindowHwnd;
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(front, message, wParam, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                              kFrontTabReplyLimitMs, &result)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    // A window that is gone, or was never there, loses the message quietly.
    if (front && ::IsWindow(front)) {
        try {
            WriteError(StringPrintf("The tab in front did not take message %u, Error Code:%d",
                                    message, static_cast<int>(error)));
        } catch (...) {
        }
    }
    return false;
}

void FrontTabMessenger::Upload() noexcept {
    WriteLog("Send Msg:WM_UP_UPLOAD");
    if (!shake_da.g_HideWindowHwnd) {
        WriteError("g_HideWindowHwnd NULL");
        return;
    }
    SendToFrontTab(WM_UP_UPLOAD);  // the upload runs on the front tab's thread
}

void FrontTabMessenger::ShowActivation(bool active) noexcept {
    SendToFrontTab(active ? WM_ICON_ACTIVE : WM_ICON_INACTIVE);
}

namespace {
FrontTabMessenger g_frontTab;
}  // namespace

FrontTabMessenger& TheFrontTab() noexcept { return g_frontTab; }

}  // namespace kvshake
