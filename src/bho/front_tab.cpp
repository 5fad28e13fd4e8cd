#include "bho/front_tab.h"

#include "bho/hidden_window.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {

// How long a tab in front may take over a message. An upload runs its whole exchange with the
// service inside it, so this is generous; a tab whose thread has stopped pumping messages is
// given up on at once, once the system takes it for hung. The test build gives up sooner, so that
// a hung tab costs its cases seconds and does not hang on the system's own judgement.
#ifdef KVSHAKE_TEST_BUILD
constexpr UINT kFrontTabReplyLimitMs = 2000;
#else
constexpr UINT kFrontTabReplyLimitMs = 60000;
#endif

// Sends message to the hidden window of the tab in front, g_HideWindowHwnd, which may belong to
// another process, and waits until that tab's thread has handled it, or until the tab is found
// hung or the limit is up (logged). A message to no window is lost.
void SendToFrontTab(UINT message) noexcept {
    const HWND front = SharedState().g_HideWindowHwnd;
    if (!IsHiddenWindow(front)) return;
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(front, message, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                              kFrontTabReplyLimitMs, &result)) {
        return;
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
}

}  // namespace

void FrontTabMessenger::Upload() noexcept {
    WriteLog("Send Msg:WM_UP_UPLOAD");
    if (!SharedState().g_HideWindowHwnd) {
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
