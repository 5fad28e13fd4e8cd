#pragma once

#include <string>

namespace kvshake {

// Binds the browser: stores the account that the service's login page hands over in its window
// name (the keys "token", "uin", "user" and "nickname"). The sid comes with the activation.
void SaveAccount(const std::wstring& text);

// Unbinds the browser from its account. True when the account is gone.
bool unbind();

}  // namespace kvshake
