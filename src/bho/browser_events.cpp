// CShakeBHO's IDispatch: the browser's DWebBrowserEvents2 events arrive here.
#include <exdispid.h>

#include "bho/browser_properties.h"
#include "bho/hidden_window.h"
#include "bho/shake_bho.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {
constexpr wchar_t kNickTestName[] = L"nicktest";
constexpr DISPID kNickTestId = 28004;
}  // namespace

// The object has no type information to hand out.
STDMETHODIMP CShakeBHO::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CShakeBHO::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

// Only the name "nicktest", in any letter case, is known; the first one found gets its id.
STDMETHODIMP CShakeBHO::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return S_OK;
    for (UINT i = 0; i < count; ++i) {
        if (names[i] && ::_wcsicmp(names[i], kNickTestName) == 0) {
            ids[i] = kNickTestId;
            break;
        }
    }
    return S_OK;
}

STDMETHODIMP CShakeBHO::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                               EXCEPINFO*, UINT*) {
    try {
        switch (id) {
            case DISPID_ONQUIT:
                OnQuit();
                break;
            case DISPID_WINDOWSTATECHANGED:
                // The arguments come in reverse order: the valid-flags mask first.
                if (params && params->cArgs >= 2) {
                    const std::optional<ULONG> mask = IntegerOf(params->rgvarg[0]);
                    const std::optional<ULONG> flags = IntegerOf(params->rgvarg[1]);
                    if (mask && flags) OnWindowStateChanged(*flags, *mask);
                }
                break;
        }
    } catch (...) {
    }
    return S_OK;
}

// The tab is closing. The last tab of the machine ends the activation. The mutex handles need
// no closing here: every lock closes its own handle when it is given back.
void CShakeBHO::OnQuit() {
    tabQuit_ = true;
    MarkCheckThreadToStop();
    WriteLog(StringPrintf("IN  DISPID_ONQUIT Before g_nTabNum Value:%d, g_dwDeadThreadId:%ld",
                          static_cast<int>(SharedState().g_nTabNum),
                          static_cast<long>(m_dwCheckThreadId)));
    // Every helper object of the browser object hears its quit; the tab leaves the count once.
    IWebBrowser2* browser = m_spWebBrowser.Get();
    const bool counted = BrowserFlagIsSet(browser, kTabCountedProperty);
    if (counted) PutBrowserProperty(browser, kTabCountedProperty, ScopedVariant::BoolValue(0));
    const LONG openTabs = counted ? ::InterlockedDecrement(&SharedState().g_nTabNum) : -1;
    if (openTabs == 0) {
        WriteLog(StringPrintf("Before UnActive g_nTabNum Value:%d", static_cast<int>(openTabs)));
        unActive();
    }
    // The tab that made the panel takes the panel's browser control with it.
    if (m_pShowBrowser && Panel()) Panel()->closeBrowserWindow(*m_pShowBrowser);
}

// A tab that the user can see becomes the target of shakes, also while the activation is still
// pending: a shake right after it must not upload a tab opened behind it. Its address is logged
// only while active.
void CShakeBHO::OnWindowStateChanged(DWORD flags, DWORD validMask) {
    if (!(validMask & OLECMDIDF_WINDOWSTATE_USERVISIBLE) ||
        !(flags & OLECMDIDF_WINDOWSTATE_USERVISIBLE)) {
        return;
    }
    if (SharedState().g_bActive) {
        unique_bstr url;
        if (m_spWebBrowser) m_spWebBrowser->get_LocationURL(url.put());
        WriteWCharLog("Current Tab Url:", url.get());
    }
    BringTabToFront(HiddenWindowProperty(m_spWebBrowser.Get()));
}

}  // namespace kvshake
