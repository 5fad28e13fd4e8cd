// The tab's activation flows: activating from the panel, at browser start, and inactivating.
#include <optional>
#include <string>

#include "bho/front_tab.h"
#include "bho/hidden_window.h"
#include "bho/shake_bho.h"
#include "foundation/log.h"
#include "service/activation.h"
#include "service/protocol.h"
#include "service/active_state.h"

namespace kvshake {

namespace {

// The lines both activations write on success, around the button's change to the active look.
void ReportActivated() {
    WriteLog("Active Suc");
    TheFrontTab().ShowActivation(true);
    WriteLog("In ActiveSuc, Send Msg End");
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
    if (!response) {
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

void CShakeBHO::InitActive(HWND tabWindow) {
    WriteLog("InitActive Start");
    if (ReadActive()) return;
    const std::optional<std::wstring> response = RequestActivation();
    if (!response) {
        WriteError("InitActive No Result");
        SetActive(false);
        WriteLog("Active Fail");
        return;
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
    // A tab that has detached meanwhile ignores the message; a tab window that is gone loses it.
    ::SendMessageW(tabWindow, WM_KEEP_CHECK_THREAD, 0, 0);
    WriteLog("ActivateSuc End");
}

void CShakeBHO::unActive() {
    if (Inactivate()) SetToolBarIcon(false);
}

}  // namespace kvshake
