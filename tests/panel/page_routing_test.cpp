// The panel's pages as the product drives them, its browser the control double.
#include "panel/page_routing.h"

#include <gtest/gtest.h>
#include <ole2.h>
#include <wrl/client.h>

#include <cwchar>
#include <string>
#include <utility>

#include "browser_double/in_process_tab_test.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "panel/panel_connection.h"
#include "panel/registered_control_double.h"
#include "service/service_config.h"
#include "support/log_file.h"
#include "support/standin_client.h"
#include "support/stored_value.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;
namespace cd = control_double;

constexpr wchar_t kAccount[] = LR"({"token":"t","uin":"1","user":"u","nickname":"N"})";
using Size = std::pair<LONG, LONG>;
constexpr Size kLoginSize{505, 347}, kStatusSize{253, 100}, kSettingsSize{253, 135};
const std::wstring kBindUrl = std::wstring(L"https://") + kServiceHost + L"/bind";

class PageRoutingTest : public InProcessTabTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        InProcessTabTest::SetUp();
        ClearAccount();
        DeleteLogFile();
        EnableLog(true);
        ConnectPanel(&ThePanelLink());
        ASSERT_NE(double_.Module(), nullptr);
        PageDescription status, settings;
        for (const wchar_t* id : {L"actived", L"disactived"}) {
            status.elements.emplace_back().id = id;
        }
        settings.elements.emplace_back().id = L"userName";
        const auto setPage = double_.Export<cd::SetPageFn>("ControlDoubleSetPage");
        setPage(kStatusUrl, &status);
        setPage(kSettingsUrl, &settings);
    }
    void TearDown() override {
        InProcessTabTest::TearDown();  // the tab closes its panel
        double_.Unregister();
        if (double_.Module()) {
            EXPECT_EQ(double_.LiveObjects(), 0);
        }
        ConnectPanel(nullptr);
        EnableLog(false);
        ClearAccount();
        ::OleUninitialize();
    }

    // The toolbar button pressed; true once the panel's browser has loaded url.
    bool Press(const wchar_t* url) {
        Tab().Bho().Exec(nullptr, 0, 0, nullptr, nullptr);
        return Loaded(url);
    }
    // Handles messages until the panel's browser has loaded url once more than before.
    static bool Loaded(const wchar_t* url) {
        const std::string line = "Load Href:" + std::string(url, url + std::wcslen(url));
        const size_t before = CountOccurrences(ReadLogFile(), line);
        return WaitUntil([&] { return CountOccurrences(ReadLogFile(), line) > before; });
    }
    static Size PanelSize() {
        RECT rect{};
        ::GetWindowRect(SharedState().g_hwnd, &rect);
        return {rect.right - rect.left, rect.bottom - rect.top};
    }
    ElementState Element(const wchar_t* id) {
        ElementState state;
        EXPECT_TRUE(double_.Export<cd::ElementFn>("ControlDoubleElement")(id, &state)) << id;
        return state;
    }
    HRESULT Call(const wchar_t* member) {
        int invokes = 0;
        return double_.Export<cd::CallExternalFn>("ControlDoubleCallExternal")(member, &invokes);
    }
    ComPtr<IDispatch> External() {
        ComPtr<IDispatch> external;
        double_.Export<cd::GetExternalFn>("ControlDoubleGetExternal")(&external);
        return external;
    }

    RegisteredControlDouble double_;
};

// Login only from the service's frame reached through the login's pages; status, settings, unbind.
TEST_F(PageRoutingTest, PanelGoesFromLoginToStatusToSettingsAndBackToLogin) {
    standin::Script(R"([{"match":"shakeactive","body":"{\"message\":\"busy\"}"}])");
    ASSERT_TRUE(Press(kLoginUrl));
    EXPECT_EQ(PanelSize(), kLoginSize);
    const auto fire = double_.Export<cd::FireFrameCompleteFn>("ControlDoubleFireFrameComplete");
    const std::pair<std::wstring, const wchar_t*> notLogins[] = {
        {L"https://other.test/bind", kAccount},
        {kBindUrl, L""},
        {L"https://LOCALHOST/bind", kAccount},
        {std::wstring(L"http://") + kServiceHost + L"/bind", kAccount}};
    for (const auto& [url, name] : notLogins) {
        SCOPED_TRACE(std::string(url.begin(), url.end()) + (*name ? " named" : " unnamed"));
        fire(url.c_str(), name);
        EXPECT_EQ(Stored(kTokenValue), L"");
    }
    // A window name survives going across sites: one set elsewhere is not the service's.
    fire(kBindUrl.c_str(), kAccount);
    EXPECT_EQ(Stored(kTokenValue), L"");
    EXPECT_TRUE(
        LogHas("Login ignored, the login's frame has been elsewhere since: "
               "https://other.test/bind\r\n"));
    EXPECT_TRUE(standin::RequestsTo("shakeactive").empty());

    ASSERT_TRUE(Press(kLoginUrl));  // loaded anew: its frame starts on the login host again
    fire((std::wstring(L"https://") + kLoginHost + L"/qrlogin").c_str(), L"");
    fire(kBindUrl.c_str(), kAccount);
    EXPECT_EQ(Stored(kTokenValue), L"t");
    EXPECT_EQ(standin::RequestsTo("shakeactive").size(), 1u);
    EXPECT_EQ(PanelSize(), kStatusSize);
    ASSERT_TRUE(Loaded(kStatusUrl));
    // The state shows when the page loads (activation refused) and when shown again.
    for (const bool active : {false, true, false}) {
        SCOPED_TRACE(active);
        SharedState().g_bActive = active;
        Tab().Bho().Exec(nullptr, 0, 0, nullptr, nullptr);  // shown again: no new load
        EXPECT_EQ(Element(L"actived").display, active ? L"block" : L"none");
        EXPECT_EQ(Element(L"disactived").display, active ? L"none" : L"block");
    }

    ClearAccount();  // unbound elsewhere: showing the panel again goes to the login page
    ASSERT_TRUE(Press(kLoginUrl));
    EXPECT_EQ(PanelSize(), kLoginSize);
    fire(kBindUrl.c_str(), kAccount);
    SharedState().g_bActive = true;  // as the page loads
    ASSERT_TRUE(Loaded(kStatusUrl));
    EXPECT_EQ(Element(L"actived").display, L"block");

    // Each load hands the page a bridge of its own and lets the last one go.
    ComPtr<IDispatch> first = External();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Call(L"goSetting"), S_OK);
    ASSERT_TRUE(Loaded(kSettingsUrl));
    const ComPtr<IDispatch> second = External();
    EXPECT_TRUE(second && second.Get() != first.Get()) << "no bridge of its own";
    EXPECT_EQ(first.Detach()->Release(), 0u) << "the first bridge is still held";
    EXPECT_EQ(PanelSize(), kSettingsSize);
    EXPECT_EQ(Element(L"userName").text, L"N");
    // Unbinding goes to the login page only when the service agrees.
    standin::Script(R"([{"match":"action=unbind","body":"{\"message\":\"busy\"}"}])");
    const std::wstring calls = double_.Calls();
    EXPECT_EQ(Call(L"unbind"), S_OK);
    EXPECT_EQ(standin::RequestsTo("action=unbind").size(), 1u);
    EXPECT_EQ(double_.Calls(), calls) << "the panel went elsewhere";
    EXPECT_EQ(Call(L"goReminder"), S_OK);  // the status page's bridge unbinds too
    ASSERT_TRUE(Loaded(kStatusUrl));
    standin::Script(R"([{"match":"action=unbind","body":"{\"message\":\"OK\"}"}])");
    EXPECT_EQ(Call(L"unbind"), S_OK);
    ASSERT_TRUE(Loaded(kLoginUrl));
    EXPECT_EQ(PanelSize(), kLoginSize);
    EXPECT_EQ(Stored(kTokenValue), L"");
}

}  // namespace
}  // namespace kvshake::testing
