#include "browser_double/browser_double.h"

#include <exdispid.h>

#include <initializer_list>
#include <utility>

namespace kvshake::testing {

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kFrameClass[] = L"IEFrame";
// The classes of the windows between the frame window and the page, outermost first.
constexpr wchar_t kFrameTabClass[] = L"Frame Tab";
constexpr wchar_t kTabClass[] = L"TabWindowClass";
constexpr wchar_t kDocObjectViewClass[] = L"Shell DocObject View";
constexpr wchar_t kServerClass[] = L"Internet Explorer_Server";

// Windows of the given classes under parent, each the parent of the next; returns the last, or
// null when one cannot be made.
HWND BuildPath(HWND parent, std::initializer_list<const wchar_t*> classes, DWORD exStyle = 0) {
    HWND window = parent;
    for (const wchar_t* name : classes) {
        window = ::CreateWindowExW(exStyle, name, L"", WS_CHILD | WS_VISIBLE, 0, 0, 800, 600,
                                   window, nullptr, ThisModule(), nullptr);
        if (window == nullptr) break;
    }
    return window;
}

// A tab's own windows, from the tab window down to the page window.
constexpr std::initializer_list<const wchar_t*> kTabPath = {kTabClass, kDocObjectViewClass,
                                                            kServerClass};

}  // namespace

class OtherTab {
  public:
    explicit OtherTab(HWND parent)
        : parent_(parent), ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (!ready_) return;
        thread_.reset(::CreateThread(nullptr, 0, &OtherTab::Run, this, 0, nullptr));
        if (thread_) WaitFor(ready_.get(), 10000);
    }
    // The tab window's thread destroys it on WM_CLOSE, and then ends.
    ~OtherTab() {
        tab_.reset();
        if (thread_) WaitFor(thread_.get(), 10000);
    }

  private:
    static DWORD WINAPI Run(void* parameter) {
        auto& self = *static_cast<OtherTab*>(parameter);
        const HWND page = BuildPath(self.parent_, kTabPath, WS_EX_NOPARENTNOTIFY);
        const HWND tab = page ? ::GetParent(::GetParent(page)) : nullptr;
        self.tab_.reset(tab);
        ::SetEvent(self.ready_.get());
        MSG message;
        while (::IsWindow(tab) && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::DispatchMessageW(&message);
        }
        return 0;
    }

    HWND parent_;
    unique_handle ready_;
    unique_window tab_;
    unique_handle thread_;
};

void window_traits::close(HWND window) noexcept {
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
        ::DestroyWindow(window);
    } else {
        // Its thread destroys it when it next handles messages (DefWindowProc on WM_CLOSE).
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

ComPtr<BrowserDouble> BrowserDouble::Create() {
    // A class that cannot be registered shows as a window that cannot be made.
    for (const wchar_t* name :
         {kFrameClass, kFrameTabClass, kTabClass, kDocObjectViewClass, kServerClass}) {
        RegisterWindowClass(name);
    }
    // Top-level and never shown.
    unique_window window(::CreateWindowExW(0, kFrameClass, L"Browser double", WS_OVERLAPPEDWINDOW,
                                           CW_USEDEFAULT, CW_USEDEFAULT, 800, 600, nullptr, nullptr,
                                           ThisModule(), nullptr));
    if (!window) return nullptr;
    // A new object has no references; the smart pointer takes the first. (mingw's
    // ComPtr::Attach adds a reference, unlike the Windows SDK's, so it cannot adopt one.)
    return ComPtr<BrowserDouble>(new BrowserDouble(std::move(window)));
}

BrowserDouble::BrowserDouble(unique_window window)
    : events_(*this, DIID_DWebBrowserEvents2), window_(std::move(window)) {}

HRESULT BrowserDouble::get_Document(IDispatch** document) {
    std::lock_guard<CriticalSection> lock(mutex_);
    return Give<IDispatch>(page_ ? page_->Document().Get() : nullptr, document);
}

HRESULT BrowserDouble::get_LocationURL(BSTR* url) {
    std::lock_guard<CriticalSection> lock(mutex_);
    return Give(locationUrl_, url);
}

HRESULT BrowserDouble::get_HWND(SHANDLE_PTR* window) {
    if (window == nullptr) return E_POINTER;
    *window = reinterpret_cast<SHANDLE_PTR>(window_.get());
    return S_OK;
}

HRESULT BrowserDouble::PutProperty(BSTR name, VARIANT value) {
    std::wstring key = FromBstr(name);
    ScopedVariant copy;
    const HRESULT hr = CopyVariant(copy.put(), value);
    if (FAILED(hr)) return hr;
    std::lock_guard<CriticalSection> lock(mutex_);
    properties_[std::move(key)] = std::move(copy);
    return S_OK;
}

HRESULT BrowserDouble::GetProperty(BSTR name, VARIANT* value) {
    const std::wstring key = FromBstr(name);
    if (value == nullptr) return E_POINTER;
    ::VariantInit(value);
    std::lock_guard<CriticalSection> lock(mutex_);
    const auto found = properties_.find(key);
    // A property never set reads as VT_EMPTY, without an error.
    return found == properties_.end() ? S_OK : CopyVariant(value, found->second.get());
}

void BrowserDouble::FireQuit() { events_.Fire(DISPID_ONQUIT, {}); }

void BrowserDouble::FireWindowStateChanged(DWORD flags, DWORD validMask, VARTYPE type) {
    VARIANT mask{}, state{};  // integers, which need no clearing
    mask.vt = state.vt = type;
    mask.ulVal = validMask;
    state.ulVal = flags;
    events_.Fire(DISPID_WINDOWSTATECHANGED, {mask, state});
}

ScopedVariant BrowserDouble::Property(const std::wstring& name) const {
    std::lock_guard<CriticalSection> lock(mutex_);
    const auto found = properties_.find(name);
    return found == properties_.end() ? ScopedVariant() : found->second;
}

void BrowserDouble::SetProperty(const std::wstring& name, const VARIANT& value) {
    ScopedVariant copy(value);
    std::lock_guard<CriticalSection> lock(mutex_);
    properties_[name] = std::move(copy);
}

void BrowserDouble::ShowPage(std::shared_ptr<PageDouble> page) {
    std::lock_guard<CriticalSection> lock(mutex_);
    page_ = std::move(page);
}

// Child windows go when the top window does.
HWND BrowserDouble::BuildWindowTree(int version, bool otherTabs) {
    if (version == 6) return BuildPath(window_.get(), {kDocObjectViewClass, kServerClass});
    if (version < 7 || version > 11) return nullptr;
    const HWND tabs = version == 7 ? window_.get() : BuildPath(window_.get(), {kFrameTabClass});
    if (!tabs) return nullptr;
    if (otherTabs) otherTabs_.push_back(std::make_unique<OtherTab>(tabs));
    const HWND page = BuildPath(tabs, kTabPath);
    if (otherTabs) otherTabs_.push_back(std::make_unique<OtherTab>(tabs));
    return page;
}

void BrowserDouble::SetLocationUrl(std::wstring url) {
    std::lock_guard<CriticalSection> lock(mutex_);
    locationUrl_ = std::move(url);
}

}  // namespace kvshake::testing
