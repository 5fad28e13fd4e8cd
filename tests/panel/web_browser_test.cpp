#include "panel/web_browser.h"

#include <gtest/gtest.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <ole2.h>

#include <optional>
#include <string>
#include <utility>

#include "bho/hidden_window.h"
#include "bho/panel_link.h"
#include "browser_double/browser_double.h"
#include "com/module.h"
#include "com/scoped_variant.h"
#include "control_double/control_double.h"
#include "panel/external.h"
#include "panel/registered_control_double.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "support/log_file.h"
#include "support/message_recorder.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;
namespace cd = control_double;

constexpr wchar_t kPageUrl[] = L"http://panel.example.test/status.html";

// The panel's browser hosting the control double, registered in Wine's control's place.
class WebBrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::OleInitialize(nullptr), S_OK);
        ASSERT_NE(double_.Module(), nullptr);
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
        double_.Unregister();
        if (double_.Module()) {
            EXPECT_EQ(double_.LiveObjects(), 0);
        }
    }

    RegisteredControlDouble double_;
    unique_window parent_;
    std::optional<CWebBrowser> browser_;
    LONG lockCount_ = 0;
};

TEST_F(WebBrowserTest, HostsTheRegisteredControlHearsItsEventsAndGivesPagesTheExternal) {
    IDocHostUIHandler* handler = &*browser_;
    IDropTarget* dropTarget = reinterpret_cast<IDropTarget*>(handler);
    EXPECT_EQ(handler->GetDropTarget(nullptr, &dropTarget), E_NOTIMPL);
    EXPECT_EQ(dropTarget, nullptr);
    const RECT rect = {0, 0, 320, 240};
    const HWND window = browser_->CreateBrowser(parent_.get(), &rect);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(::GetParent(window), parent_.get());
    ASSERT_NE(browser_->HostedBrowser(), nullptr);
    HWND view = nullptr;
    ComPtr<IOleWindow> control;
    ASSERT_EQ(browser_->HostedBrowser()->QueryInterface(IID_PPV_ARGS(&control)), S_OK);
    ASSERT_EQ(control->GetWindow(&view), S_OK);
    EXPECT_EQ(::GetParent(view), window);

    PageDescription page;
    page.title = L"Status";
    double_.Export<cd::SetPageFn>("ControlDoubleSetPage")(kPageUrl, &page);
    browser_->Navigate(kPageUrl);
    ASSERT_TRUE(WaitUntil([] { return LogHas("WebBrowser Document onload"); }));
    EXPECT_NE(double_.Calls().find(std::wstring(L"put_Silent 1\nNavigate ") + kPageUrl),
              std::wstring::npos);

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

    ComPtr<ICustomDoc> document;
    ASSERT_EQ(browser_->GetDocument().As(&document), S_OK);
    ASSERT_EQ(document->SetUIHandler(handler), S_OK);  // as page routing does
    document.Reset();
    const auto call = double_.Export<cd::CallExternalFn>("ControlDoubleCallExternal");
    int invokes = -1;
    EXPECT_TRUE(FAILED(call(L"goReminder", &invokes)));  // no bridge set yet
    const LONG locks = Module().GetLockCount();  // every live bridge keeps the module loaded
    ComPtr<External> external;
    external.Attach(External::Create());
    external->Release();  // mingw's Attach takes a reference of its own
    EXPECT_EQ(Module().GetLockCount(), locks + 1);
    browser_->SetExternal(external);

    // The bridge: names answer without regard to case, the argument names after the member's are
    // not looked up, and unknown names get no id.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"unbind"), const_cast<LPOLESTR>(L"reason")};
    DISPID ids[2] = {1, 1};
    EXPECT_EQ(external->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 28000);
    EXPECT_EQ(ids[1], 1);
    names[0] = const_cast<LPOLESTR>(L"GOSETTING");
    EXPECT_EQ(external->GetIDsOfNames(IID_NULL, names, 1, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 28003);
    names[0] = const_cast<LPOLESTR>(L"goSettings");
    EXPECT_EQ(external->GetIDsOfNames(IID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_TRUE(FAILED(external->GetTypeInfo(0, 0, &info)));
    EXPECT_EQ(info, nullptr);

    // A page's click reads the member: that runs the action once and gives the page nothing to
    // call. The panel takes each page's size and is sent to the page.
    MessageRecorder panel(kStandalonePanelClass);
    SharedState().g_hwnd = panel.Window();
    const auto panelSize = [&] {
        RECT placed{};
        ::GetWindowRect(panel.Window(), &placed);
        return std::pair(placed.right - placed.left, placed.bottom - placed.top);
    };
    EXPECT_EQ(call(L"goSetting", &invokes), S_OK);
    EXPECT_EQ(panelSize(), std::pair(253L, 135L));
    ScopedVariant result;
    DISPPARAMS none = {};
    const auto read = [&](DISPID id) {
        return external->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.put(), nullptr,
                                nullptr);
    };
    EXPECT_EQ(read(28005), S_OK);  // goReminder
    EXPECT_EQ(result.type(), VT_EMPTY);
    EXPECT_EQ(panelSize(), std::pair(253L, 100L));
    const size_t logged = ReadLogFile().size();
    EXPECT_EQ(read(27999), S_OK);
    EXPECT_EQ(read(28006), S_OK);
    EXPECT_EQ(ReadLogFile().size(), logged) << "unknown members do nothing";
    EXPECT_EQ(panel.Count(WM_GOPAGE), 2u) << "once per action";
    SharedState().g_hwnd = nullptr;
    external->AddRef();
    EXPECT_EQ(external->Release(), 2u) << "the page kept window.external";

    // Destroying the window disconnects once and closes the control.
    browser_->DestroyWindow();
    EXPECT_EQ(browser_->Window(), nullptr);
    EXPECT_EQ(browser_->EventCookie(), DispatchEventSink::kNotAdvised);
    browser_->DestroyWindow();  // a second time: nothing more to undo
    const std::wstring calls = double_.Calls();
    EXPECT_EQ(CountOccurrences(calls, L"Unadvise"), 1u);
    EXPECT_NE(calls.find(L"Close\n"), std::wstring::npos);
    EXPECT_EQ(double_.Export<cd::LiveObjectsFn>("ControlDoubleLiveObjects")(), 1)
        << "the browser's own";
}

}  // namespace
}  // namespace kvshake::testing
