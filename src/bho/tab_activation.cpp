// The tab's activation flows: activating from the panel, at browser start, and inactivating.
#include <optional>
#include <string>

#include "bho/front_tab.h"
#include "bho/hidden_window.h"
#include "bho/shake_bho.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"
#include "service/activation.h"
#include "service/protocol.h"
#include "service/active_state.h"
#include "service/check_loop.h"

namespace kvshake {

namespace {

// The lines both activations write on success, around the button's change to the active look.
void ReportActivated() {
    WriteLog("Active Suc");
    TheFrontTab().ShowActivation(true);
    WriteLog("In ActiveSuc, Send Msg End");
}

// Between attempts the activation pauses while tabs of the machine run are open, whichever tab
// started it; false once none is left, or once the account is gone.
bool PauseBeforeAnotherActivation(DWORD ms) {
    constexpr DWORD kTabsLookMs = 250;
    std::wstring token;
    if (!ReadReg(kTokenValue, token)) return false;
    for (DWORD waited = 0; SharedState().g_nTabNum > 0; waited += kTabsLookMs) {
        if (waited >= ms) return true;
        ::Sleep(kTabsLookMs);
    }
    return false;
}

}  // namespace

// A login or a switch in this tab's panel: the user is looking at this tab.
void CShakeBHO::activate() {
    BringTabToFront(m_hHideWnd);
    ActivateFromPanel(this);
}

void ActivateFromPanel(CShakeBHO* tab) {
    WriteLog("activate Start");
    if (ReadActive()) {
        if (tab) tab->startCheckShake();
        WriteLog("activate End & Don't need to go Active");
        return;
    }
    const std::optional<std::wstring> response = RequestActivation();
    if (!IsAnswer(response, L"message")) {
        SetActive(false);
        WriteLog("Active Fail");
    } else {
        if (ApplyActivationAnswer(*response, GetKeyValue(*response, L"message")) && tab) {
            tab->startCheckShake();
        }
        if (ReadActive()) {
            ReportActivated();
            WriteLog("ActivateSuc End");
        } else {
            WriteLog("Active Fail");
        }
    }
    WriteLog("activate End & go to Active real");
}

// A browser started before the network is up activates once it is: a failure of the transport is
// tried again, after the check loop's pauses, until an answer comes or the browser is active.
void CShakeBHO::InitActive(HWND tabWindow) {
    WriteLog("InitActive Start");
    RetryPause retry;
    std::optional<std::wstring> response;
    for (;;) {
        if (ReadActive()) return;
        response = RequestActivation();
        if (IsAnswer(response, L"message")) break;
        WriteError("InitActive No Result");
        WriteLog("Active Fail");
        const DWORD pauseMs = retry.Next();
        if (!PauseBeforeAnotherActivation(pauseMs)) return;
        WriteLog(
            StringPrintf("InitActive again after %lu ms", static_cast<unsigned long>(pauseMs)));
    }
    WriteWCharLog("InitActive Result: ", response->c_str());
    const std::wstring message = GetKeyValue(*response, L"message");
    WriteWCharLog("Active Result Message Value:", message.c_str());
    ApplyActivationAnswer(*response, message);
    if (!ReadActive()) {
        WriteLog("Active Fail");
        return;
    }
    ReportActivated();
    // A tab that has detached meanwhile ignores the message; a tab window that is gone loses it,
    // and the check threads of the other tabs take the checker role after their pause.
    ::SendMessageW(tabWindow, WM_KEEP_CHECK_THREAD, 0, 0);
    WriteLog("ActivateSuc End");
}

void CShakeBHO::unActive() {
    if (Inactivate()) SetToolBarIcon(false);
}

}  // namespace kvshake
