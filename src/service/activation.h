#pragma once

#include <optional>
#include <string>

#include "service/front_tab.h"

namespace kvshake {

// Binding and activation with the service. The flows that run for a tab (activating from the
// panel or at browser start, inactivating) are the helper object's; this is what they share with
// the service.

// Binds the browser: stores the account that the service's login page hands over in its window
// name (the keys "token", "uin", "user" and "nickname"). The sid comes with the activation.
void SaveAccount(const std::wstring& text);

// Sends the activate request; nothing when no answer came. Whether a response is the service's
// answer is the caller's to tell (IsAnswer with "message").
std::optional<std::wstring> RequestActivation();

// Applies an answer to the activate request: "OK" stores the sid and sets the activation flag;
// anything else clears the flag, and the code 201 as a value of the answer also clears the
// account.
// True when activated.
bool ApplyActivationAnswer(const std::wstring& response, const std::wstring& message);

// Inactivates an active browser with the service. True when the browser is no longer active, so
// that the toolbar button must show it; nothing is sent, and nothing logged, while inactive. A
// response that is not the service's answer changes nothing.
bool Inactivate();

// Unbinds the browser from its account. True when the account is gone (unbound now, or answered
// 201: unbound before); the activation then ends too and the tab in front shows the inactive look.
bool unbind(FrontTab& frontTab);

}  // namespace kvshake
