// The script bridge as a page calls it: the member read alone runs the action, exactly once.
#include "panel/external.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wrl/client.h>

#include "bho/hidden_window.h"
#include "bho/panel_link.h"
#include "com/module.h"
#include "com/scoped_variant.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "support/log_file.h"
#include "support/message_recorder.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;

class ExternalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteLogFile();
        EnableLog(true);
        external_.Attach(External::Create());
        external_->Release();  // mingw's Attach takes a reference of its own
    }
    void TearDown() override { EnableLog(false); }

    DISPID IdOf(const wchar_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        external_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        return id;
    }
    // window.external.name as a page reads it: the value it gives.
    ScopedVariant Read(DISPID id) {
        DISPPARAMS none = {};
        ScopedVariant result;
        EXPECT_EQ(external_->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.put(),
                                    nullptr, nullptr),
                  S_OK);
        return result;
    }
    // if (window.external && window.external.name) window.external.name();
    void Click(const wchar_t* name) {
        const DISPID id = IdOf(name);
        const ScopedVariant value = Read(id);
        if (value.type() != VT_EMPTY && value.type() != VT_NULL) {
            DISPPARAMS none = {};
            external_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        }
    }

    ComPtr<External> external_;
};

TEST_F(ExternalTest, NamesAnswerWithoutRegardToCaseAndAReadOrAClickRunsTheActionOnce) {
    EXPECT_EQ(IdOf(L"GOSETTING"), 28003);
    // The member's name answers; the argument names after it are not looked up.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"unbind"), const_cast<LPOLESTR>(L"reason")};
    DISPID ids[2] = {1, 1};
    EXPECT_EQ(external_->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 28000);
    EXPECT_EQ(ids[1], 1);
    names[0] = const_cast<LPOLESTR>(L"goSettings");
    EXPECT_EQ(external_->GetIDsOfNames(IID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_TRUE(FAILED(external_->GetTypeInfo(0, 0, &info)));
    EXPECT_EQ(info, nullptr);

    // The panel takes each page's size and is sent to the page once per action.
    MessageRecorder panel(kStandalonePanelClass);
    SharedState().g_hwnd = panel.Window();
    const auto size = [&] {
        RECT rect = {};
        ::GetWindowRect(panel.Window(), &rect);
        return SIZE{rect.right - rect.left, rect.bottom - rect.top};
    };
    EXPECT_EQ(Read(28003).type(), VT_EMPTY);
    EXPECT_EQ(size().cx, 253);
    EXPECT_EQ(size().cy, 135);
    EXPECT_EQ(panel.Count(WM_GOPAGE), 1u);
    Click(L"goSetting");
    EXPECT_EQ(panel.Count(WM_GOPAGE), 2u);
    Click(L"goReminder");
    EXPECT_EQ(size().cy, 100);
    EXPECT_EQ(panel.Count(WM_GOPAGE), 3u);
    SharedState().g_hwnd = nullptr;

    const size_t before = ReadLogFile().size();
    Read(27999);
    Read(28006);
    EXPECT_EQ(ReadLogFile().size(), before);  // unknown members do nothing

    const LONG locks = Module().GetLockCount();  // every live bridge keeps the module loaded
    external_.Reset();
    EXPECT_EQ(Module().GetLockCount(), locks - 1);
}

}  // namespace
}  // namespace kvshake::testing
