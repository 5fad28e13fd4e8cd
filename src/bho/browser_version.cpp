#include "bho/browser_version.h"

#include "bho/html_document.h"
#include "bho/shake_bho.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

struct VersionMarker {
    const char* text;
    int version;
};
// The engine token first: in Compatibility View (the default for intranet pages) versions 8 to 11
// report "MSIE 7.0" beside it, and version 11 in its own document mode names no "MSIE" at all.
constexpr VersionMarker kEngineMarkers[] = {
    {"Trident/4.", 8}, {"Trident/5.", 9}, {"Trident/6.", 10}, {"Trident/7.", 11}};
constexpr VersionMarker kVersionMarkers[] = {{"MSIE 6.", 6}, {"MSIE 7.", 7},   {"MSIE 8.", 8},
                                             {"MSIE 9.", 9}, {"MSIE 10.", 10}, {"MSIE 11.", 11}};

// The version of the first marker in order that the text contains; 0 for none.
template <size_t N>
int FirstMarkerIn(std::string_view text, const VersionMarker (&markers)[N]) {
    for (const VersionMarker& marker : markers) {
        if (text.find(marker.text) != std::string_view::npos) return marker.version;
    }
    return 0;
}

constexpr wchar_t kPageWindowClass[] = L"Internet Explorer_Server";
constexpr wchar_t kTabWindowClass[] = L"TabWindowClass";

// The first child of parent of the given class that accept takes; null for none.
template <typename Accept>
HWND ChildOfClass(HWND parent, const wchar_t* windowClass, Accept accept) {
    if (!parent) return nullptr;
    for (HWND child = ::FindWindowExW(parent, nullptr, windowClass, nullptr); child;
         child = ::FindWindowExW(parent, child, windowClass, nullptr)) {
        if (accept(child)) return child;
    }
    return nullptr;
}

HWND FirstChildOfClass(HWND parent, const wchar_t* windowClass) {
    return ChildOfClass(parent, windowClass, [](HWND) { return true; });
}

bool MadeByThisThread(HWND window) {
    return ::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId();
}

// This tab's window under the browser's top window, which holds its page; on version 6, which has
// no tabs, the top window itself. From version 7 all tabs of a browser share its top window, and
// each tab's windows are made by the tab's own thread; from version 8 the tab windows sit under
// "Frame Tab" windows. Version 7 starts from the top window too, so that it finds this browser's
// own tab and never another browser's; version 11 keeps the tree of 8 to 10. Null for a version
// whose tree is not known.
HWND ThisTabsWindow(HWND top, int version) {
    if (version == 6) return top;
    if (version == 7) return ChildOfClass(top, kTabWindowClass, MadeByThisThread);
    if (version < 8 || version > 11) return nullptr;
    HWND tab = nullptr;
    ChildOfClass(top, L"Frame Tab", [&tab](HWND frameTab) {
        tab = ChildOfClass(frameTab, kTabWindowClass, MadeByThisThread);
        return tab != nullptr;
    });
    return tab;
}

// The application version string that the page's script environment reports; each failure is
// logged with the step that failed.
std::optional<std::wstring> AppVersionOf(IWebBrowser2* browser) {
    ComPtr<IDispatch> document;
    if (!browser || FAILED(browser->get_Document(&document)) || !document) {
        WriteError(StringPrintf("GetIEVersion, Get Document Fail, Error Code:%d",
                                static_cast<int>(::GetLastError())));
        return std::nullopt;
    }
    ComPtr<IHTMLDocument2> html;
    if (FAILED(document.As(&html)) || !html) {
        WriteError("GetIEVersion, Get Document2 Fail");
        return std::nullopt;
    }
    ComPtr<IHTMLWindow2> window;
    if (FAILED(html->get_parentWindow(&window)) || !window) {
        WriteError("GetIEVersion , Get ParentWindow Fail");
        return std::nullopt;
    }
    ComPtr<IOmNavigator> navigator;
    if (FAILED(window->get_navigator(&navigator)) || !navigator) {
        WriteError("GetIEVersion, Get Navigator Fail");
        return std::nullopt;
    }
    std::optional<std::wstring> appVersion =
        ReadText(navigator.Get(), &IOmNavigator::get_appVersion);
    if (!appVersion) WriteError("GetIEVersion, Get AppVersion Fail");
    return appVersion;
}

}  // namespace

int IEVersionOf(std::string_view appVersion) {
    const int engine = FirstMarkerIn(appVersion, kEngineMarkers);
    return engine ? engine : FirstMarkerIn(appVersion, kVersionMarkers);
}

// Once known, the version is kept for the whole machine run; until then every call asks again.
void CShakeBHO::GetIEVersion() {
    WriteLog("GetIEVersion Start");
    if (SharedState().g_nIEVersion != 0) {
        WriteLog("GetIEVersion before, so return");
        return;
    }
    const std::optional<std::wstring> appVersion = AppVersionOf(m_spWebBrowser.Get());
    if (!appVersion) return;
    const std::string text = WideToAnsi(appVersion->c_str()).value_or(std::string());
    WriteLog(text);
    if (const int version = IEVersionOf(text)) SharedState().g_nIEVersion = version;
}

HWND CShakeBHO::FindIES() {
    GetIEVersion();
    const int version = SharedState().g_nIEVersion;
    WriteLog(StringPrintf("In FindIES, IE Version:%d", version));
    SHANDLE_PTR top = 0;
    if (!m_spWebBrowser || FAILED(m_spWebBrowser->get_HWND(&top))) return nullptr;
    const HWND tab = ThisTabsWindow(reinterpret_cast<HWND>(top), version);
    const HWND window =
        FirstChildOfClass(FirstChildOfClass(tab, L"Shell DocObject View"), kPageWindowClass);
    if (!window) return nullptr;
    DWORD processId = 0;
    const DWORD threadId = ::GetWindowThreadProcessId(window, &processId);
    WriteLog(StringPrintf(
        "Internet Explorer_Server Process Id:%d Thread Id:%d Current Process Id:%d, Thread Id:%d",
        static_cast<int>(processId), static_cast<int>(threadId),
        static_cast<int>(::GetCurrentProcessId()), static_cast<int>(::GetCurrentThreadId())));
    return window;
}

}  // namespace kvshake
