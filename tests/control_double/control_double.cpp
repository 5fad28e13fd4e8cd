#include "control_double/control_double.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <olectl.h>
#include <wrl/client.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "browser_double/com_object.h"
#include "browser_double/connection_point_double.h"
#include "com/class_factory.h"
#include "com/scoped_variant.h"
#include "support/message_recorder.h"
#include "com_stubs.h"

namespace kvshake::testing::control_double {
namespace {

using Microsoft::WRL::ComPtr;

constexpr UINT kDocumentLoaded = WM_APP + 1;  // the navigation's page is there: fire its event
constexpr UINT kFrameLoaded = WM_APP + 2;     // another process's frame: fire its event

// Everything is used on the test's thread; the module's state is plain.
std::map<std::wstring, PageDescription> g_pages;
std::wstring g_calls;
long g_liveObjects = 0;

std::shared_ptr<PageDouble> PageFor(const std::wstring& url, const std::wstring& windowName) {
    const auto found = g_pages.find(url);
    PageDescription page = found == g_pages.end() ? PageDescription() : found->second;
    page.url = url;
    page.windowName = windowName;
    return PageDouble::Create(page);
}

// Counts itself among the live objects.
template <typename... Bases>
class Counted : public ComObject<Bases...> {
  public:
    Counted() { ++g_liveObjects; }
    ~Counted() override { --g_liveObjects; }
};

// The browser of a frame: only its document.
class FrameDouble final : public Counted<WebBrowser2Stubs> {
  public:
    explicit FrameDouble(std::shared_ptr<PageDouble> page) : page_(std::move(page)) {}
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** document) override {
        return Give<IDispatch>(page_->Document().Get(), document);
    }

  private:
    void* Find(REFIID riid) override { return FindIn<AsBrowser>(this, riid); }

    std::shared_ptr<PageDouble> page_;
};

class ControlDouble;
ControlDouble* g_newest = nullptr;

class ControlDouble final : public Counted<WebBrowser2Stubs, OleObjectStubs, OleInPlaceObjectStubs,
                                           ConnectionPointContainerStubs> {
  public:
    ControlDouble() : events_(*this, DIID_DWebBrowserEvents2, &g_calls) { g_newest = this; }
    ~ControlDouble() override {
        DestroyView();
        if (g_newest == this) g_newest = nullptr;
    }

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        site_ = site;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND,
                                     LPCRECT) override {
        if (verb != OLEIVERB_INPLACEACTIVATE) return E_NOTIMPL;
        if (view_) return S_OK;
        IOleClientSite* site = activeSite ? activeSite : site_.Get();
        HWND parent = nullptr;
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof(info);
        if (!site || FAILED(site->QueryInterface(IID_PPV_ARGS(&inPlaceSite_))) ||
            inPlaceSite_->CanInPlaceActivate() != S_OK ||
            FAILED(inPlaceSite_->GetWindow(&parent)) || FAILED(inPlaceSite_->OnInPlaceActivate()) ||
            FAILED(inPlaceSite_->GetWindowContext(&frame_, &uiWindow_, &position, &clip, &info))) {
            inPlaceSite_.Reset();
            return E_FAIL;
        }
        view_ = ::CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE, position.left,
                                  position.top, position.right - position.left,
                                  position.bottom - position.top, parent, nullptr, ThisModule(),
                                  nullptr);
        ::SetWindowLongPtrW(view_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return view_ ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override {
        g_calls += L"Close\n";
        return InPlaceDeactivate();
    }

    // IOleWindow, IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = view_;
        return view_ ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
        if (!inPlaceSite_) return S_OK;
        DestroyView();
        inPlaceSite_->OnInPlaceDeactivate();
        inPlaceSite_.Reset();
        frame_.Reset();
        uiWindow_.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT) override {
        if (!position) return E_POINTER;
        ::MoveWindow(view_, position->left, position->top, position->right - position->left,
                     position->bottom - position->top, TRUE);
        return S_OK;
    }

    // IWebBrowser2
    HRESULT STDMETHODCALLTYPE put_Silent(VARIANT_BOOL silent) override {
        g_calls += L"put_Silent " + std::to_wstring(silent) + L"\n";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        location_ = url ? url : L"";
        g_calls += L"Navigate " + location_ + L"\n";
        page_ = PageFor(location_, L"");
        if (view_) ::PostMessageW(view_, kDocumentLoaded, 0, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** document) override {
        return Give<IDispatch>(page_ ? page_->Document().Get() : nullptr, document);
    }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        return events_.HandOut(riid, point);
    }

    // DocumentComplete(pDisp, URL)
    void FireDocumentComplete(IDispatch* frame, const std::wstring& url) {
        ScopedVariant address = ScopedVariant::Text(url);
        VARIANT byReference{}, browser{};
        byReference.vt = VT_BYREF | VT_VARIANT;
        byReference.pvarVal = const_cast<VARIANT*>(&address.get());
        browser.vt = VT_DISPATCH;
        browser.pdispVal = frame;
        events_.Fire(DISPID_DOCUMENTCOMPLETE, {byReference, browser});
    }
    void OnDocumentLoaded() { FireDocumentComplete(static_cast<IWebBrowser2*>(this), location_); }
    void FireFrameComplete(const std::wstring& url, const std::wstring& windowName) {
        ComPtr<FrameDouble> frame(new FrameDouble(PageFor(url, windowName)));
        FireDocumentComplete(static_cast<IWebBrowser2*>(frame.Get()), url);
    }
    // A frame that another process names fires its event once that sender has its answer: the
    // handler may send messages of its own.
    bool TakeFrame(const COPYDATASTRUCT& data) {
        if (data.dwData != kFrameCompleteData || !data.lpData) return false;
        const std::wstring text(static_cast<const wchar_t*>(data.lpData));
        const size_t split = std::min(text.find(L'\n'), text.size());
        frames_.emplace_back(text.substr(0, split), text.substr(std::min(split + 1, text.size())));
        ::PostMessageW(view_, kFrameLoaded, 0, 0);
        return true;
    }
    void OnFrameLoaded() {
        if (frames_.empty()) return;
        const auto [url, windowName] = frames_.front();
        frames_.erase(frames_.begin());
        FireFrameComplete(url, windowName);
    }
    long PageReferences() const { return page_ ? page_->ReferencesHeld() : 0; }
    const std::wstring& Location() const { return location_; }
    std::shared_ptr<PageDouble> Page() const { return page_; }

  private:
    void* Find(REFIID riid) override {
        return FindIn<AsBrowser, As<IOleObject>, As<IOleInPlaceObject, IOleWindow>,
                      As<IConnectionPointContainer>>(this, riid);
    }
    void DestroyView() {
        if (view_) ::DestroyWindow(std::exchange(view_, nullptr));
    }

    ConnectionPointDouble events_;
    ComPtr<IOleClientSite> site_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    ComPtr<IOleInPlaceFrame> frame_;
    ComPtr<IOleInPlaceUIWindow> uiWindow_;
    HWND view_ = nullptr;
    std::wstring location_;
    std::shared_ptr<PageDouble> page_;
    std::vector<std::pair<std::wstring, std::wstring>> frames_;  // URL and window name
};

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* control = reinterpret_cast<ControlDouble*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == kDocumentLoaded && control) control->OnDocumentLoaded();
    if (message == kFrameLoaded && control) control->OnFrameLoaded();
    if (message == WM_COPYDATA && control) {
        return control->TakeFrame(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HRESULT CreateControl(REFIID riid, void** object) {
    const ComPtr<IUnknown> control(static_cast<IWebBrowser2*>(new ControlDouble));
    return control->QueryInterface(riid, object);
}

ComPtr<IDocHostUIHandler> RecordedHandler() {
    return g_newest && g_newest->Page() ? g_newest->Page()->UIHandler() : nullptr;
}

}  // namespace
}  // namespace kvshake::testing::control_double

using namespace kvshake::testing::control_double;

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) kvshake::testing::RegisterWindowClass(kViewClass, ViewProc);
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    // The module keeps the factory's first reference.
    static kvshake::ClassFactory* const factory = new kvshake::ClassFactory(CreateControl);
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_WebBrowser) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, object);
}

// The test holds the module for as long as it needs it.
STDAPI DllCanUnloadNow() { return S_FALSE; }

extern "C" void ControlDoubleSetPage(const wchar_t* url,
                                     const kvshake::testing::PageDescription* page) {
    g_pages[url] = *page;
}

extern "C" void ControlDoubleReset() {
    g_pages.clear();
    g_calls.clear();
}

extern "C" const wchar_t* ControlDoubleCalls() { return g_calls.c_str(); }

extern "C" const wchar_t* ControlDoubleLocation() {
    return g_newest ? g_newest->Location().c_str() : L"";
}

extern "C" long ControlDoubleLiveObjects() {
    return g_liveObjects + (g_newest ? g_newest->PageReferences() : 0);
}

extern "C" void ControlDoubleFireFrameComplete(const wchar_t* url, const wchar_t* windowName) {
    if (g_newest) g_newest->FireFrameComplete(url, windowName);
}

extern "C" HRESULT ControlDoubleGetExternal(IDispatch** external) {
    const ComPtr<IDocHostUIHandler> handler = RecordedHandler();
    return handler ? handler->GetExternal(external) : E_FAIL;
}

extern "C" HRESULT ControlDoubleCallExternal(const wchar_t* member, int* invokes) {
    *invokes = 0;
    ComPtr<IDispatch> external;
    HRESULT hr = ControlDoubleGetExternal(&external);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
    DISPID id = DISPID_UNKNOWN;
    hr = external->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none{};
    kvshake::ScopedVariant value;
    ++*invokes;
    hr = external->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                          value.put(), nullptr, nullptr);
    kvshake::ScopedVariant truth;
    if (FAILED(hr) ||
        FAILED(::VariantChangeType(truth.put(), const_cast<VARIANT*>(&value.get()), 0, VT_BOOL)) ||
        truth.get().boolVal == VARIANT_FALSE) {
        return hr;
    }
    ++*invokes;
    return external->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                            nullptr, nullptr);
}

extern "C" bool ControlDoubleElement(const wchar_t* id, kvshake::testing::ElementState* state) {
    const std::shared_ptr<kvshake::testing::PageDouble> page =
        g_newest ? g_newest->Page() : nullptr;
    const std::optional<kvshake::testing::ElementState> found =
        page ? page->ElementById(id) : std::nullopt;
    if (found) *state = *found;
    return found.has_value();
}
