#pragma once

#include <exdisp.h>
#include <mshtml.h>
#include <mshtmhst.h>
#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "com/dispatch_event_sink.h"
#include "panel/ax_host_window.h"

namespace kvshake {

class PanelOwner;

// The panel's browser: a WebBrowser control hosted in a window of its own (see
// ax_host_window.h), one per panel, owned by whom the panel works for (PanelOwner: the tab's
// helper object, or the panel window that rundll32 opened). It hears the control's
// DWebBrowserEvents2 and is the document host's UI handler of the panel's pages, which gives
// them window.external.
//
// The object is not reference counted: AddRef and Release answer 1, and its owner deletes it.
// The IDispatch it implements is only for its event sink, which forwards every call to it;
// QueryInterface never hands it out.
class CWebBrowser final : public IDocHostUIHandler, public IDispatch, private AxHostListener {
  public:
    CWebBrowser() noexcept;
    ~CWebBrowser();
    CWebBrowser(const CWebBrowser&) = delete;
    CWebBrowser& operator=(const CWebBrowser&) = delete;

    void SetOwner(PanelOwner* owner) noexcept { m_pOwner = owner; }

    // Creates the control window as a child of parent and hosts the browser in it; with no
    // rectangle the window gets the default position and size, with style 0 it is a visible
    // child that clips its siblings and children. Then advises for the control's events and
    // keeps its IWebBrowser2. Null when the window cannot be made.
    HWND CreateBrowser(HWND parent, const RECT* rect, DWORD style = 0, DWORD exStyle = 0,
                       UINT id = 0);
    // Destroys the control window, if there is one (the tab is closing).
    void DestroyWindow();

    // Goes to url, without the browser's dialogs.
    void Navigate(const wchar_t* url);
    Microsoft::WRL::ComPtr<IHTMLDocument2> GetDocument() const;
    // The object the panel's pages reach as window.external; replaces (and releases) the last.
    void SetExternal(Microsoft::WRL::ComPtr<IDispatch> external) noexcept;

    // Page routing and the panel's look (page_routing.cpp).
    void OnDocumentComplete(IDispatch* frame);
    void ShowActiveState(bool active);
    void ShowUserName();

    HWND Window() const noexcept { return m_hWnd; }
    IWebBrowser2* HostedBrowser() const noexcept { return m_spHostedBrowser.Get(); }
    DWORD EventCookie() const noexcept { return eventSink_.Cookie(); }
    PanelOwner* Owner() const noexcept { return m_pOwner; }

    // IUnknown: IDocHostUIHandler and IUnknown only.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IDocHostUIHandler: the browser's own UI, but no context menu and no own UI; the page's
    // window.external is the object set with SetExternal.
    STDMETHODIMP ShowContextMenu(DWORD id, POINT* point, IUnknown* target,
                                 IDispatch* object) override;
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
    STDMETHODIMP ShowUI(DWORD id, IOleInPlaceActiveObject* activeObject,
                        IOleCommandTarget* commandTarget, IOleInPlaceFrame* frame,
                        IOleInPlaceUIWindow* document) override;
    STDMETHODIMP HideUI() override;
    STDMETHODIMP UpdateUI() override;
    STDMETHODIMP EnableModeless(BOOL enable) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                              BOOL frameWindow) override;
    STDMETHODIMP TranslateAccelerator(LPMSG message, const GUID* group, DWORD command) override;
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
    STDMETHODIMP GetDropTarget(IDropTarget* target, IDropTarget** replacement) override;
    STDMETHODIMP GetExternal(IDispatch** external) override;
    STDMETHODIMP TranslateUrl(DWORD translate, LPWSTR url, LPWSTR* translated) override;
    STDMETHODIMP FilterDataObject(IDataObject* object, IDataObject** replacement) override;

    // IDispatch, as the event sink calls it: DWebBrowserEvents2 arrive in Invoke.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  private:
    // AxHostListener: the control window's WM_DESTROY and its last message.
    void OnHostDestroying(IUnknown* control) noexcept override;
    void OnHostFinalMessage() noexcept override;

    HWND m_hWnd = nullptr;
    DispatchEventSink eventSink_;  // its cookie is the events' cookie
    Microsoft::WRL::ComPtr<IWebBrowser2> m_spHostedBrowser;
    PanelOwner* m_pOwner = nullptr;  // not counted: the owner outlives this object
    Microsoft::WRL::ComPtr<IDispatch> m_spExternal;
    // The first page outside the login's own pages that a frame of the login page has shown
    // since the login page loaded; empty while there is none. A window name set there would
    // survive to the bind page.
    std::wstring m_loginLeftFor;
};

}  // namespace kvshake
