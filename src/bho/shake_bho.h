#pragma once

#include <docobj.h>
#include <exdisp.h>
#include <mshtml.h>
#include <ocidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>

#include "com/dispatch_event_sink.h"
#include "bho/panel_link.h"
#include "foundation/unique_resource.h"
#include "service/check_loop.h"

namespace kvshake {

// The browser helper object: one per tab, created by the class factory and sited on the tab by
// the browser. It lives on the tab's browser thread, and only that thread uses the tab's browser:
// other threads hand their work over through the tab's hidden window.
class CShakeBHO final : public IObjectWithSite,
                        public IDispatch,
                        public IOleCommandTarget,
                        public PanelOwner {
  public:
    static HRESULT CreateInstance(REFIID iid, void** object);

    // IUnknown: IDispatch, IObjectWithSite, IOleCommandTarget.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IObjectWithSite: a site attaches the object to its tab, a null site detaches it.
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** site) override;

    // IDispatch: also the event sink's, so browser events arrive in Invoke.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // IOleCommandTarget: the toolbar button's command.
    STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD* commands,
                             OLECMDTEXT* text) override;
    STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD options, VARIANT* in,
                      VARIANT* out) override;

    // Work handed to the tab's thread through its hidden window.
    void uploadPic();
    void RemoveTip();
    // True when the button was found and changed.
    bool SetToolBarIcon(bool active);
    void GoPage(const wchar_t* url);
    void RefreshPanelPage();
    // A press in any tab: this tab's panel moves to the corner in lParam, follows the state,
    // shows and comes forward (WM_SHOW_PANEL).
    void ShowPanelHere(LPARAM corner);

    // The page: the browser's version, the tab's page window and the tip shown after a shake.
    void GetIEVersion();
    HWND FindIES();
    void InsertTip(IHTMLDocument2* document, bool found);

    // The activation and the tab's check thread.
    void activate() override;
    void unActive() override;
    // Starts the tab's check thread, or wakes the one it runs: a tab never runs two.
    void startCheckShake();

    IWebBrowser2* Browser() const noexcept { return m_spWebBrowser.Get(); }
    LONG TabNumber() const noexcept { return m_nTabNumber; }
    HWND HiddenWindow() const noexcept { return m_hHideWnd; }

  private:
    CShakeBHO() noexcept;
    ~CShakeBHO();

    void Attach(IUnknown* site);
    void Detach();
    bool ConnectToBrowser(IUnknown* site);
    bool TakeTabNumber();
    void CountTab();
    void AdoptHiddenWindow();
    void StartInitialActivation(bool newTab);
    void OpenNewTab();
    bool CheckThreadRuns() const noexcept;
    void MarkCheckThreadToStop();
    void StopCheckThread();
    void ForgetPanelIfCreatedHere();
    // The toolbar command: where the button is, then the panel shown again or created.
    void LocateButton();
    // False when no panel of this tab is left: it could not be made, or another was made first.
    bool CreatePanel();
    void ClosePanel();
    void GiveUpCheckerRole();
    void InitHideWindow();
    void CloseHideWindow();

    // Runs on a thread of its own, started by the first attach of a machine run: activates with
    // the service, then has the tab's own thread, through tabWindow, wake the check thread.
    static void InitActive(HWND tabWindow);

    void OnQuit();
    void OnWindowStateChanged(DWORD flags, DWORD validMask);

    std::atomic<ULONG> references_{1};
    Microsoft::WRL::ComPtr<IUnknown> site_;
    DispatchEventSink eventSink_;

    Microsoft::WRL::ComPtr<IWebBrowser2> m_spWebBrowser;
    bool m_bAdvised = false;
    bool tabQuit_ = false;  // the browser said the tab is closing; detach then closes its window
    unique_handle m_hCheckThread;
    HWND m_hHideWnd = nullptr;
    HWND m_hShowWnd = nullptr;      // the panel window, in the tab whose command made it
    ShowBrowserPtr m_pShowBrowser;  // the panel's browser, in that same tab
    LONG m_nTabNumber = 0;
    DWORD m_dwCheckThreadId = 0;
    // Shared with the tab's check thread: the checker role (m_bCheckOwner) and the stop signal.
    std::shared_ptr<CheckThreadState> checkState_;
};

// The first process of a machine run to attach a tab, or to open the panel without the browser,
// switches the log on as stored, starts a new log file and marks the run as begun. True for that
// first one only.
bool StartMachineRun();

// Activating from the panel, unless the browser is active already. The tab whose panel it is
// starts a check thread; a panel opened without the browser has none (tab null), and the tabs'
// own check threads take the checker role.
void ActivateFromPanel(CShakeBHO* tab);

}  // namespace kvshake
