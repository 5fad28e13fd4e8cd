#include "bho/shake_bho.h"

#include <shlguid.h>

#include <new>
#include <string>

#include "bho/browser_properties.h"
#include "bho/front_tab.h"
#include "com/module.h"
#include "com/module_thread.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {
constexpr DWORD kCheckThreadWaitActiveMs = 3500;
constexpr DWORD kCheckThreadWaitInactiveMs = 5500;
}  // namespace

CShakeBHO::CShakeBHO() noexcept : eventSink_(this, DIID_DWebBrowserEvents2) { Module().Lock(); }

CShakeBHO::~CShakeBHO() { Module().Unlock(); }

HRESULT CShakeBHO::CreateInstance(REFIID iid, void** object) {
    auto* bho = new (std::nothrow) CShakeBHO();
    if (!bho) return E_OUTOFMEMORY;
    const HRESULT hr = bho->QueryInterface(iid, object);
    bho->Release();
    return hr;
}

STDMETHODIMP CShakeBHO::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
    } else if (iid == IID_IObjectWithSite) {
        *object = static_cast<IObjectWithSite*>(this);
    } else if (iid == IID_IOleCommandTarget) {
        *object = static_cast<IOleCommandTarget*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CShakeBHO::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CShakeBHO::Release() {
    const ULONG references = --references_;
    if (references == 0) delete this;
    return references;
}

STDMETHODIMP CShakeBHO::SetSite(IUnknown* site) {
    try {
        if (site) {
            Attach(site);
        } else {
            Detach();
        }
    } catch (...) {
        // Out of memory somewhere in the work: the browser is never told.
    }
    return S_OK;
}

STDMETHODIMP CShakeBHO::GetSite(REFIID iid, void** site) {
    if (!site) return E_POINTER;
    *site = nullptr;
    if (!site_) return E_FAIL;
    return site_->QueryInterface(iid, site);
}

void CShakeBHO::Attach(IUnknown* site) {
    const bool haveBrowser = ConnectToBrowser(site);
    site_ = site;
    // Without the tab's browser there is nothing to number or to watch.
    if (!haveBrowser) return;

    const bool newTab = TakeTabNumber();
    if (!newTab) AdoptHiddenWindow();
    checkState_ = std::make_shared<CheckThreadState>(m_nTabNumber);
    CountTab();
    if (StartMachineRun()) {
        StartInitialActivation(newTab);
    } else if (newTab) {
        OpenNewTab();
    }
    // Active or not: the thread pauses while the browser is inactive and takes the checker role
    // after an activation, so some open tab checks whichever tabs close.
    startCheckShake();
}

bool CShakeBHO::ConnectToBrowser(IUnknown* site) {
    Microsoft::WRL::ComPtr<IServiceProvider> services;
    if (FAILED(site->QueryInterface(IID_PPV_ARGS(&services)))) return false;
    if (FAILED(services->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&m_spWebBrowser))) ||
        !m_spWebBrowser) {
        return false;
    }
    m_bAdvised = SUCCEEDED(eventSink_.Advise(m_spWebBrowser.Get()));
    return true;
}

// A browser object gets a number from its first helper object; a later object attached to the
// same browser object takes that number over, so that the names it builds from it stay defined.
bool CShakeBHO::TakeTabNumber() {
    IWebBrowser2* browser = m_spWebBrowser.Get();
    if (BrowserFlagIsSet(browser, kClickBtnProperty)) {
        const ScopedVariant number = GetBrowserProperty(browser, kTabNumberProperty);
        if (number.type() == VT_I4) m_nTabNumber = number.get().lVal;
        return false;
    }
    PutBrowserProperty(browser, kClickBtnProperty, ScopedVariant::BoolValue(1));
    m_nTabNumber = ::InterlockedIncrement(&SharedState().g_nNextTabNum) - 1;
    PutBrowserProperty(browser, kTabNumberProperty, ScopedVariant::Int32(m_nTabNumber));
    return true;
}

// A tab counts once, however many helper objects are attached to its browser object in turn.
void CShakeBHO::CountTab() {
    IWebBrowser2* browser = m_spWebBrowser.Get();
    if (BrowserFlagIsSet(browser, kTabCountedProperty)) return;
    PutBrowserProperty(browser, kTabCountedProperty, ScopedVariant::BoolValue(1));
    ::InterlockedIncrement(&SharedState().g_nTabNum);
}

// The first attach since the shared block was created (or the first panel opened without the
// browser) switches the log on as stored, starts a new log file and marks the machine run as
// begun. It is decided under "mutexForActive", so that
// of processes attaching at the same moment exactly one is first, and every other finds the log
// switch already set. False for every later attach.
bool StartMachineRun() {
    ScopedNamedMutex lock(kMutexForActive, mutex_holders.g_hMutexForActive);
    if (!lock.Held() || SharedState().g_bInited) return false;
    std::wstring debug;
    if (ReadReg(kDebugValue, debug) && debug == L"1") {
        SharedState().g_bLogEnabled = true;
        EnableLog(true);
    }
    InitLogFile();
    WriteLog("Explorer Init");
    SharedState().g_bInited = true;
    return true;
}

// A bound browser activates at start. The activation thread is held until the tab's hidden window
// exists, since that is how it has the tab's own thread wake the tab's check thread.
void CShakeBHO::StartInitialActivation(bool newTab) {
    auto tabWindow = std::make_shared<HWND>(nullptr);
    unique_handle activation;
    std::wstring token;
    if (ReadReg(kTokenValue, token)) {
        WriteLog("Has Token");
        activation.reset(
            StartModuleThread([tabWindow] { InitActive(*tabWindow); }, nullptr, CREATE_SUSPENDED));
        WriteLog("After CreateThread to initActive");
    } else {
        WriteLog("No Token");
    }
    if (newTab) InitHideWindow();
    *tabWindow = m_hHideWnd;
    if (activation) ::ResumeThread(activation.get());
}

void CShakeBHO::OpenNewTab() {
    if (SharedState().g_bLogEnabled) EnableLog(true);
    WriteLog(StringPrintf("New Tab, Tab Num:%d", static_cast<int>(m_nTabNumber)));
    InitHideWindow();
}

// A browser object attached again keeps the hidden window its first object made; messages to it
// now reach this object. Only a window of this thread can be taken over.
void CShakeBHO::AdoptHiddenWindow() {
    const HWND hidden = HiddenWindowProperty(m_spWebBrowser.Get());
    if (!hidden || ::GetWindowThreadProcessId(hidden, nullptr) != ::GetCurrentThreadId()) return;
    m_hHideWnd = hidden;
    ::SetWindowLongPtrW(m_hHideWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void CShakeBHO::Detach() {
    StopCheckThread();
    // The hidden window outlives this object: it must not hand messages to it any more.
    if (m_hHideWnd) ::SetWindowLongPtrW(m_hHideWnd, GWLP_USERDATA, 0);
    if (m_bAdvised) {
        eventSink_.Unadvise(m_spWebBrowser.Get());
        m_bAdvised = false;
    }
    if (m_spWebBrowser) {
        ForgetPanelIfCreatedHere();
        ClosePanel();
        m_spWebBrowser.Reset();
    } else {
        WriteLog("In SetSite, m_spWebBrowser == NULL true");
    }
    if (checkState_ && checkState_->m_bCheckOwner) GiveUpCheckerRole();
    if (tabQuit_) CloseHideWindow();
    site_.Reset();
}

// Two threads of the tab that holds the checker role would check side by side, and a shake
// could be uploaded twice. A running thread is woken instead, to take the role at once.
void CShakeBHO::startCheckShake() {
    if (!checkState_) return;  // the tab never got its browser
    if (CheckThreadRuns()) {
        checkState_->Wake();
        return;
    }
    WriteLog("startCheckShake start");
    PutBrowserProperty(m_spWebBrowser.Get(), kHasThreadCheckProperty, ScopedVariant::BoolValue(1));
    DWORD threadId = 0;
    unique_handle thread(StartCheckThread(checkState_, TheFrontTab(), &threadId));
    if (!thread) return;
    m_hCheckThread = std::move(thread);
    m_dwCheckThreadId = threadId;
    WriteLog(
        StringPrintf("Create New Thread To Check, ThreadID :%ld", static_cast<long>(threadId)));
}

bool CShakeBHO::CheckThreadRuns() const noexcept {
    return m_hCheckThread && ::WaitForSingleObject(m_hCheckThread.get(), 0) == WAIT_TIMEOUT;
}

// Through the tab's own stop event: a thread id could name another tab's later thread once
// Windows has reused it.
void CShakeBHO::MarkCheckThreadToStop() {
    if (checkState_) checkState_->RequestStop();
}

// The tab's check thread is told to stop and waited for. A thread that is still inside an
// exchange with a silent service when the time is up is left to finish it: it acts on nothing
// after its stop signal and ends by itself. Ending a thread forcibly could leave a lock or the
// library state of the whole browser process half changed, so that is done only for a thread
// that could not be given a stop signal.
void CShakeBHO::StopCheckThread() {
    const bool canStop = checkState_ && checkState_->m_hStopEvent;
    MarkCheckThreadToStop();
    const DWORD limit =
        SharedState().g_bActive ? kCheckThreadWaitActiveMs : kCheckThreadWaitInactiveMs;
    if (::WaitForSingleObject(m_hCheckThread.get(), limit) == WAIT_OBJECT_0) {
        WriteLog("SetSite WaitForSingleObject Suc");
    } else if (m_hCheckThread && canStop) {
        WriteLog("SetSite check thread still in an exchange, left to end by itself");
    } else if (m_hCheckThread && ::TerminateThread(m_hCheckThread.get(), 0)) {
        WriteLog("TerminateThread Suc");
    } else {
        // Without a thread the wait itself failed, and its invalid-handle code is the one logged.
        WriteError(StringPrintf("TerminateThread Fail, Error Code:%d",
                                static_cast<int>(::GetLastError())));
    }
    m_hCheckThread.reset();
}

// Only this object's own panel: the browser object may have made the machine's panel through an
// earlier helper object, and a panel made since in another tab stays.
void CShakeBHO::ForgetPanelIfCreatedHere() {
    if (ForgetPanel(m_hShowWnd)) WriteLog("Set g_hwnd Null Suc");
}

void CShakeBHO::GiveUpCheckerRole() {
    ScopedNamedMutex lock(kMutexForChecking, mutex_holders.g_hMutexForChecking);
    if (!lock.Held()) return;
    SharedState().g_bHasCheckThread = false;
    checkState_->m_bCheckOwner = false;
}

STDMETHODIMP CShakeBHO::QueryStatus(const GUID*, ULONG count, OLECMD* commands, OLECMDTEXT*) {
    if (count == 0) return E_INVALIDARG;
    if (!commands) return E_POINTER;
    commands[0].cmdf = OLECMDF_ENABLED;
    return S_OK;
}

}  // namespace kvshake
