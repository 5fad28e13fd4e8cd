#include "panel/web_browser.h"

#include <gtest/gtest.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <ole2.h>

#include <optional>
#include <string>
#include <vector>

#include "browser_double/browser_double.h"
#include "com/module.h"
#include "control_double/control_double.h"
#include "panel/registered_control_double.h"
#include "foundation/log.h"
#include "support/log_file.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;
namespace cd = control_double;

constexpr wchar_t kPageUrl[] = L"http://panel.example.test/status.html";

// window.external as a page's script finds it: answers every name, reads as true.
class ScriptTarget final : public DispatchStubs {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        *object = riid == IID_IUnknown || riid == IID_IDispatch ? this : nullptr;
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* id) override {
        *id = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        calls.push_back(flags);
        if (result) *result = ScopedVariant::BoolValue(VARIANT_TRUE).get();
        return S_OK;
    }
    ULONG references = 1;  // the test's own
    std::vector<WORD> calls;
};

class WebBrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::OleInitialize(nullptr), S_OK);
        lockCount_ = Module().GetLockCount();
        DeleteLogFile();
        EnableLog(true);
        parent_.reset(::CreateWindowExW(0, L"STATIC", L"panel", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                                        nullptr, nullptr, nullptr, nullptr));
        browser_.emplace();
    }
    void TearDown() override {
        browser_.reset();
        parent_.reset();
        EnableLog(false);
        EXPECT_EQ(Module().GetLockCount(), lockCount_) << "a host is left";
        ::OleUninitialize();
    }
    HWND Create() {
        const RECT rect = {0, 0, 320, 240};
        return browser_->CreateBrowser(parent_.get(), &rect);
    }
    unique_window parent_;
    std::optional<CWebBrowser> browser_;
    LONG lockCount_ = 0;
};

class ControlDoubleTest : public WebBrowserTest {
  protected:
    void SetUp() override {
        WebBrowserTest::SetUp();
        ASSERT_NE(double_.Module(), nullptr);
    }
    void TearDown() override {
        WebBrowserTest::TearDown();
        double_.Unregister();
        if (double_.Module()) {
            EXPECT_EQ(double_.LiveObjects(), 0);
        }
    }
    template <typename Function>
    Function Export(const char* name) {
        return double_.Export<Function>(name);
    }
    std::wstring Calls() { return double_.Calls(); }
    void ShowPage() {
        PageDescription page;
        page.title = L"Status";
        Export<cd::SetPageFn>("ControlDoubleSetPage")(kPageUrl, &page);
        browser_->Navigate(kPageUrl);
        ASSERT_TRUE(PumpUntil([] { return LogHas("WebBrowser Document onload"); }));
    }

    RegisteredControlDouble double_;  // the double in Wine's control's place
};

TEST_F(ControlDoubleTest, HostsTheRegisteredControlAndHearsItsEvents) {
    const HWND window = Create();
    ASSERT_NE(window, nullptr);
    wchar_t text[64] = {};
    ::GetWindowTextW(window, text, 64);
    EXPECT_STREQ(text, L"{8856F961-340A-11D0-A96B-00C04FD705A2}");
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE)) & 0x56000000u,
              0x56000000u);
    EXPECT_EQ(::GetParent(window), parent_.get());
    EXPECT_NE(browser_->EventCookie(), DispatchEventSink::kNotAdvised);
    ASSERT_NE(browser_->HostedBrowser(), nullptr);
    HWND view = nullptr;
    ComPtr<IOleWindow> control;
    ASSERT_EQ(browser_->HostedBrowser()->QueryInterface(IID_PPV_ARGS(&control)), S_OK);
    ASSERT_EQ(control->GetWindow(&view), S_OK);
    EXPECT_EQ(::GetParent(view), window);
    EXPECT_EQ(Calls(), L"SetClientSite\nDoVerb -5\nAdvise\n");

    ShowPage();
    EXPECT_NE(Calls().find(std::wstring(L"put_Silent 1\nNavigate ") + kPageUrl),
              std::wstring::npos);
    EXPECT_NE(browser_->GetDocument(), nullptr);
    Export<cd::FireFrameCompleteFn>("ControlDoubleFireFrameComplete")(kPageUrl, L"frame");
    EXPECT_TRUE(LogHas("WebBrowser Document onload", 2));

    VARIANT_BOOL cancel = VARIANT_TRUE;
    VARIANT arguments[2] = {};
    arguments[0].vt = VT_BYREF | VT_BOOL;
    arguments[0].pboolVal = &cancel;
    arguments[1].vt = VT_BYREF | VT_DISPATCH;
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    for (DISPID id : {DISPID_NEWWINDOW2, DISPID_PROGRESSCHANGE, DISPID_COMMANDSTATECHANGE, 4711}) {
        EXPECT_EQ(
            browser_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            S_OK);
    }
    EXPECT_EQ(cancel, VARIANT_FALSE);
}

TEST_F(ControlDoubleTest, DestroyingTheWindowDisconnectsOnceAndClosesTheControl) {
    ASSERT_NE(Create(), nullptr);
    browser_->DestroyWindow();
    EXPECT_EQ(browser_->Window(), nullptr);
    EXPECT_EQ(browser_->EventCookie(), DispatchEventSink::kNotAdvised);
    EXPECT_EQ(Calls(),
              L"SetClientSite\nDoVerb -5\nAdvise\nUnadvise\nInPlaceDeactivate\nClose\n"
              L"InPlaceDeactivate\nSetClientSite null\n");
    browser_->DestroyWindow();
    EXPECT_EQ(Export<cd::LiveObjectsFn>("ControlDoubleLiveObjects")(), 1) << "the browser's own";
}

TEST_F(ControlDoubleTest, PagesGetTheExternalObjectThroughTheUIHandler) {
    IDocHostUIHandler* handler = &*browser_;
    for (const IID& iid :
         {IID_IOleWindow, IID_IDispatch, IID_IOleClientSite, IID_IOleInPlaceSite}) {
        void* object = handler;
        EXPECT_EQ(handler->QueryInterface(iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    IDispatch* untouched = reinterpret_cast<IDispatch*>(handler);
    EXPECT_EQ(handler->GetExternal(&untouched), S_FALSE);
    EXPECT_EQ(untouched, reinterpret_cast<IDispatch*>(handler));
    EXPECT_EQ(handler->GetExternal(nullptr), E_POINTER);
    IDropTarget* dropTarget = reinterpret_cast<IDropTarget*>(handler);
    EXPECT_EQ(handler->GetDropTarget(nullptr, &dropTarget), E_NOTIMPL);
    EXPECT_EQ(dropTarget, nullptr);

    ASSERT_NE(Create(), nullptr);
    ShowPage();
    ComPtr<ICustomDoc> document;
    ASSERT_EQ(browser_->GetDocument().As(&document), S_OK);
    ASSERT_EQ(document->SetUIHandler(handler), S_OK);  // as page routing does
    int invokes = -1;
    EXPECT_TRUE(
        FAILED(Export<cd::CallExternalFn>("ControlDoubleCallExternal")(L"goLogin", &invokes)));
    ScriptTarget target;
    browser_->SetExternal(&target);
    EXPECT_EQ(target.references, 2u);
    EXPECT_EQ(Export<cd::CallExternalFn>("ControlDoubleCallExternal")(L"goLogin", &invokes), S_OK);
    EXPECT_EQ(target.calls, (std::vector<WORD>{DISPATCH_PROPERTYGET, DISPATCH_METHOD}));
    EXPECT_EQ(target.references, 2u) << "the page let go of window.external";
    browser_.reset();
    EXPECT_EQ(target.references, 1u);
}

// Wine's own control, as registered, without its HTML engine.
TEST_F(WebBrowserTest, HostsWinesOwnControl) {
    ASSERT_NE(browser_->CreateBrowser(parent_.get(), nullptr), nullptr);  // the default place
    EXPECT_NE(browser_->EventCookie(), DispatchEventSink::kNotAdvised);
    EXPECT_NE(browser_->HostedBrowser(), nullptr);
    browser_->DestroyWindow();
    EXPECT_EQ(browser_->Window(), nullptr);
    EXPECT_EQ(browser_->EventCookie(), DispatchEventSink::kNotAdvised);
}

}  // namespace
}  // namespace kvshake::testing
