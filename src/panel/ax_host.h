#pragma once

#include <oleidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <atomic>

namespace kvshake {

// The container side of one hosted control (see ax_host_window.h): its client site, in-place
// site and in-place frame, all for the one host window. The host window holds one reference and
// the control the others while it is sited; Close takes the control's away, so no cycle outlives
// the window. Every live object keeps the module loaded.
class AxHost final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
  public:
    // A new object for the host window; null when out of memory.
    static Microsoft::WRL::ComPtr<AxHost> Create(HWND window) noexcept;

    // Creates the control, sites it and activates it in place over the window's client area.
    HRESULT CreateControl(REFCLSID clsid) noexcept;
    // Deactivates and closes the control, takes its site away and lets go of it.
    void Close() noexcept;
    // Places the active control over the window's client area.
    void FitControl() noexcept;
    IUnknown* Control() const noexcept { return control_.Get(); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override;
    STDMETHODIMP OnShowWindow(BOOL show) override;
    STDMETHODIMP RequestNewObjectLayout() override;

    // IOleWindow, for the in-place site and the frame alike: the host window.
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override;
    STDMETHODIMP OnInPlaceActivate() override;
    STDMETHODIMP OnUIActivate() override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  RECT* position, RECT* clip, OLEINPLACEFRAMEINFO* info) override;
    STDMETHODIMP Scroll(SIZE extent) override;
    STDMETHODIMP OnUIDeactivate(BOOL undoable) override;
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override;
    STDMETHODIMP DeactivateAndUndo() override;
    STDMETHODIMP OnPosRectChange(const RECT* position) override;

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no tool space, no menus, no accelerators.
    STDMETHODIMP GetBorder(RECT* border) override;
    STDMETHODIMP RequestBorderSpace(const BORDERWIDTHS* widths) override;
    STDMETHODIMP SetBorderSpace(const BORDERWIDTHS* widths) override;
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) override;
    STDMETHODIMP InsertMenus(HMENU menu, OLEMENUGROUPWIDTHS* widths) override;
    STDMETHODIMP SetMenu(HMENU menu, HOLEMENU shared, HWND activeObject) override;
    STDMETHODIMP RemoveMenus(HMENU menu) override;
    STDMETHODIMP SetStatusText(LPCOLESTR text) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;
    STDMETHODIMP TranslateAccelerator(MSG* message, WORD id) override;

  private:
    explicit AxHost(HWND window) noexcept;
    ~AxHost();

    std::atomic<ULONG> references_{0};
    const HWND window_;
    Microsoft::WRL::ComPtr<IUnknown> control_;
    bool inPlaceActive_ = false;
};

}  // namespace kvshake
