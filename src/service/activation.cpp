#include "service/activation.h"

#include <utility>

#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "service/active_state.h"
#include "service/http_transport.h"
#include "service/protocol.h"
#include "service/service_config.h"

namespace kvshake {

void SaveAccount(const std::wstring& text) {
    const std::pair<const wchar_t*, const wchar_t*> fields[] = {
        {L"token", kTokenValue},
        {L"uin", kUinValue},
        {L"user", kUserValue},
        {L"nickname", kNicknameValue},
    };
    for (const auto& [key, name] : fields) WriteReg(name, GetKeyValue(text, key));
}

std::optional<std::wstring> RequestActivation() {
    return GetData(kServiceHost, ActivatePath().c_str());
}

bool ApplyActivationAnswer(const std::wstring& response, const std::wstring& message) {
    if (message == L"OK") {
        WriteReg(kSidValue, GetKeyValue(response, L"sid"));
        SetActive(true);
        return true;
    }
    if (HasCode201(response)) ClearAccount();
    SetActive(false);
    return false;
}

bool Inactivate() {
    if (!ReadActive()) return false;
    WriteLog("unActive start");
    const std::optional<std::wstring> response = GetData(kServiceHost, InactivatePath().c_str());
    WriteWCharLog("unActive result: ", ResponseText(response));
    if (!IsAnswer(response, L"message")) return false;
    if (GetKeyValue(*response, L"message") == L"OK") {
        SetActive(false);
        DelReg(kSidValue);
        return true;
    }
    if (HasCode201(*response)) {
        SetActive(false);
        ClearAccount();
        return true;
    }
    return false;
}

bool unbind(FrontTab& frontTab) {
    WriteLog("unbind start");
    const std::optional<std::wstring> response = GetData(kServiceHost, UnbindPath().c_str());
    WriteWCharLog("unbind result: ", ResponseText(response));
    if (!IsAnswer(response, L"message")) {
        WriteError("Unbind Fail No Response");
        return false;
    }
    // Either way the account is gone, and an activation without an account is over.
    const bool unbound = GetKeyValue(*response, L"message") == L"OK";
    if (!unbound && !HasCode201(*response)) {
        WriteError("Unbind Fail From Response Other Case");
        return false;
    }
    SetActive(false);
    ClearAccount();  // token, uin, sid, user, nickname, in this order
    if (!unbound) WriteError("Unbind Fail From Response, Because Unbind Before");
    frontTab.ShowActivation(false);
    return true;
}

}  // namespace kvshake
