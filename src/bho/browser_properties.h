#pragma once

#include <exdisp.h>

#include "com/scoped_variant.h"

namespace kvshake {

// Properties that helper objects keep on their tab's browser object; every helper object
// attached to the same browser object sees them.
inline constexpr wchar_t kClickBtnProperty[] = L"ClickBtn";      // VT_BOOL: attached before
inline constexpr wchar_t kHideWindowProperty[] = L"HideWindow";  // VT_I4: hidden window
inline constexpr wchar_t kCreateShowWindowProperty[] = L"CreateShowWindow";  // VT_BOOL
inline constexpr wchar_t kHasThreadCheckProperty[] = L"HasThreadCheck";      // VT_BOOL
inline constexpr wchar_t kTabNumberProperty[] = L"TabNumber";  // VT_I4: the first object's number
// VT_BOOL: the tab is in the machine run's tab count, from its first attach to its quit event.
inline constexpr wchar_t kTabCountedProperty[] = L"TabCounted";

ScopedVariant GetBrowserProperty(IWebBrowser2* browser, const wchar_t* name);
HRESULT PutBrowserProperty(IWebBrowser2* browser, const wchar_t* name, const ScopedVariant& value);

// True when the property is VT_BOOL and not zero.
bool BrowserFlagIsSet(IWebBrowser2* browser, const wchar_t* name);

// The hidden window that the property "HideWindow" names; null when it is missing or not VT_I4.
HWND HiddenWindowProperty(IWebBrowser2* browser);

}  // namespace kvshake
