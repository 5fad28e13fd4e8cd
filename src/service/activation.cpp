// Binding and activation: the account is stored from the login, the browser is activated with
// the service (by the user, or at browser start), inactivated, and unbound.
#include "service/activation.h"

#include <optional>
#include <utility>

#include "bho/browser_properties.h"
#include "bho/hidden_window.h"
#include "bho/shake_bho.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "service/active_state.h"
#include "service/http_transport.h"
#include "service/protocol.h"
#include "service/service_config.h"

namespace kvshake {

namespace {

// An activation answer: "OK" stores the sid and activates; otherwise "201" anywhere means the
// account is no longer bound. True when activated.
bool ApplyActivationAnswer(const std::wstring& response, const std::wstring& message) {
    if (message == L"OK") {
        WriteReg(kSidValue, GetKeyValue(response, L"sid"));
        SetActive(true);
        return true;
    }
    if (ContainsCode201(response)) ClearAccount();
    SetActive(false);
    return false;
}

// The button shows the active look: the lines both activations write on success.
void ReportActivated() {
    WriteLog("Active Suc");
    SendToFrontTab(WM_ICON_ACTIVE);
    WriteLog("In ActiveSuc, Send Msg End");
}

}  // namespace

void SaveAccount(const std::wstring& text) {
    const std::pair<const wchar_t*, const wchar_t*> fields[] = {
        {L"token", kTokenValue},
        {L"uin", kUinValue},
        {L"user", kUserValue},
        {L"nickname", kNicknameValue},
    };
    for (const auto& [key, name] : fields) WriteReg(name, GetKeyValue(text, key));
}

void CShakeBHO::activate() {
    WriteLog("activate Start");
    if (ReadActive()) {
        unique_handle thread(startCheckShake());
        WriteLog("activate End & Don't need to go Active");
        return;
    }
    const std::optional<std::wstring> response = GetData(kServiceHost, ActivatePath().c_str());
    if (!response) {
        SetActive(false);
        WriteLog("Active Fail");
    } else {
        if (ApplyActivationAnswer(*response, GetKeyValue(*response, L"message")) &&
            !BrowserBoolIs(m_spWebBrowser.Get(), kHasThreadCheckProperty, 1)) {
            unique_handle thread(startCheckShake());
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

void CShakeBHO::InitActive() {
    WriteLog("InitActive Start");
    if (ReadActive()) return;
    const std::optional<std::wstring> response = GetData(kServiceHost, ActivatePath().c_str());
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
    KeepCheckThread(startCheckShake());
    WriteLog("ActivateSuc End");
}

void CShakeBHO::unActive() {
    if (!ReadActive()) return;
    WriteLog("unActive start");
    const std::optional<std::wstring> response = GetData(kServiceHost, InactivatePath().c_str());
    WriteWCharLog("unActive result: ", ResponseText(response));
    if (!response) return;
    if (GetKeyValue(*response, L"message") == L"OK") {
        SetActive(false);
        DelReg(kSidValue);
        SetToolBarIcon(false);
    } else if (ContainsCode201(*response)) {
        SetActive(false);
        ClearAccount();
        SetToolBarIcon(false);
    }
}

bool unbind() {
    WriteLog("unbind start");
    const std::optional<std::wstring> response = GetData(kServiceHost, UnbindPath().c_str());
    WriteWCharLog("unbind result: ", ResponseText(response));
    if (!response) {
        WriteError("Unbind Fail No Response");
        return false;
    }
    if (GetKeyValue(*response, L"message") == L"OK") {
        SetActive(false);
        ClearAccount();  // token, uin, sid, user, nickname, in this order
        SendToFrontTab(WM_ICON_INACTIVE);
        return true;
    }
    if (ContainsCode201(*response)) {
        ClearAccount();
        WriteError("Unbind Fail From Response, Because Unbind Before");
        return true;
    }
    WriteError("Unbind Fail From Response Other Case");
    return false;
}

}  // namespace kvshake
