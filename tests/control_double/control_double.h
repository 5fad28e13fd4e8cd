#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "browser_double/page_double.h"

// The control double: an in-process server of a WebBrowser control, for registration under
// CLSID_WebBrowser in the test prefix. It activates in place as a child window of its site's
// window, shows pages of the browser double's page model and fires DWebBrowserEvents2. A test
// loads the module with LoadLibrary and reaches it through these functions (GetProcAddress by
// the names below); they act on the newest live control.
namespace kvshake::testing::control_double {

// The page shown for a URL: a copy of page, with url as document.URL and location.href (and the
// host name taken from it). A URL without a page gets an empty one.
using SetPageFn = void (*)(const wchar_t* url, const PageDescription* page);
// Forgets the pages and the calls recorded so far.
using ResetFn = void (*)();
// The calls the controls received, one a line: "put_Silent 1", "Navigate URL", "Close", and the
// event connection's "Advise" and "Unadvise".
using CallsFn = const wchar_t* (*)();
// The URL the newest control navigated to last; empty without one.
using LocationFn = const wchar_t* (*)();
// Controls and frames alive, and references held on the pages they show.
using LiveObjectsFn = long (*)();
// DocumentComplete for a frame of the page: a frame browser showing url, whose window has the
// name windowName.
using FireFrameCompleteFn = void (*)(const wchar_t* url, const wchar_t* windowName);
// window.external of the page shown, from the UI handler its document was given (E_FAIL
// without one); GetExternal's result.
using GetExternalFn = HRESULT (*)(IDispatch** external);
// A page script's call of window.external.member(): the names resolved, the member read as a
// property, and called as a method only when the read gave a true value. invokes: how many
// Invoke calls were made. The first failure's result, else S_OK.
using CallExternalFn = HRESULT (*)(const wchar_t* member, int* invokes);
// The state of the first element with this id in the page shown; false when there is none.
using ElementFn = bool (*)(const wchar_t* id, ElementState* state);

// A control's view window, in any process: WM_COPYDATA with kFrameCompleteData and the UTF-16
// text "URL\nWINDOWNAME" fires DocumentComplete for such a frame, as FireFrameCompleteFn does in
// the control's own process. A panel that another program opened logs in this way.
inline constexpr wchar_t kViewClass[] = L"ControlDoubleView";
inline constexpr ULONG_PTR kFrameCompleteData = 0x4B534643;

inline BOOL CALLBACK KeepView(HWND window, LPARAM found) {
    wchar_t className[32] = {};
    ::GetClassNameW(window, className, 32);
    if (std::wstring(className) != kViewClass) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Sends a frame's completion to the control shown in window (a panel of any process); false
// when it shows none yet, or it did not take the message.
inline bool SendFrameComplete(HWND window, const std::wstring& url,
                              const std::wstring& windowName) {
    HWND view = nullptr;
    ::EnumChildWindows(window, KeepView, reinterpret_cast<LPARAM>(&view));
    std::wstring text = url + L"\n" + windowName;
    COPYDATASTRUCT data = {kFrameCompleteData,
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), text.data()};
    DWORD_PTR taken = FALSE;
    return view &&
           ::SendMessageTimeoutW(view, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                 SMTO_ABORTIFHUNG, 10000, &taken) &&
           taken;
}

}  // namespace kvshake::testing::control_double
