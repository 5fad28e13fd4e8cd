#pragma once

#include <windows.h>
#include <wrl/client.h>

namespace kvshake {

// The window class of the control hosts. A window of this class takes its text for the CLSID of
// the control it hosts, in registry form ("{8856F961-...}"): on WM_CREATE it creates whatever is
// registered under that CLSID, in process, and activates it in place over its client area; on
// WM_SIZE the control follows the client area; on WM_DESTROY it deactivates and closes the
// control and lets go of it. A control that cannot be created or activated fails the window's
// creation.
inline constexpr wchar_t kAxHostClass[] = L"KVShakeAxHost";

// Told about the host window's end: OnHostDestroying on WM_DESTROY, before the host lets go of
// the control (null when it has none), OnHostFinalMessage on the window's last message.
class AxHostListener {
  public:
    virtual void OnHostDestroying(IUnknown* control) noexcept = 0;
    virtual void OnHostFinalMessage() noexcept = 0;

  protected:
    ~AxHostListener() = default;
};

// A host window for the control named by clsidText; with no rectangle the window gets the
// default position and size, and listener may be null. Registers the window class with the
// module's instance on first use. Null when the window or the control fails.
HWND CreateAxHostWindow(const wchar_t* clsidText, HWND parent, const RECT* rect, DWORD style,
                        DWORD exStyle, UINT id, AxHostListener* listener) noexcept;

// A new reference to the IUnknown of the control that a host window holds; null when the window
// is no host or holds none.
Microsoft::WRL::ComPtr<IUnknown> HostedControl(HWND host) noexcept;

// For the module's unload: the class goes with the code of its window procedure.
void UnregisterAxHostClass() noexcept;

}  // namespace kvshake
