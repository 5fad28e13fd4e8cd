// The module's class object exports, called on the module loaded into this test program.
#include <gtest/gtest.h>
#include <docobj.h>
#include <ocidl.h>
#include <windows.h>
#include <wrl/client.h>

#include "KVShake_h.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;

class ExportsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(module_ && getClassObject_ && canUnloadNow_);
    }

    ComPtr<IClassFactory> Factory() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject_(CLSID_ShakeBHO, IID_PPV_ARGS(&factory)), S_OK);
        return factory;
    }

    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const HMODULE module_ = ::LoadLibraryW(ModulePath().c_str());
    const GetClassObject getClassObject_ = ExportOf<GetClassObject>(module_, "DllGetClassObject");
    const CanUnloadNow canUnloadNow_ = ExportOf<CanUnloadNow>(module_, "DllCanUnloadNow");
};

TEST_F(ExportsTest, OneCachedFactoryRefusesAggregationAndKeepsTheModuleWhileUsed) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject_(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(Factory().Get(), factory.Get());
    ComPtr<IUnknown> outer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&outer)), S_OK);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);

    // The module stays while a client holds the factory, a helper object or a server lock.
    factory.Reset();
    ASSERT_EQ(canUnloadNow_(), S_FALSE);  // the helper object
    outer.Reset();
    ASSERT_EQ(canUnloadNow_(), S_OK);
    Factory()->LockServer(TRUE);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    Factory()->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ExportsTest, HelperObjectAnswersExactlyItsInterfacesAndTheirCallsBeforeItIsSited) {
    ComPtr<IUnknown> bho;
    ASSERT_EQ(Factory()->CreateInstance(nullptr, IID_PPV_ARGS(&bho)), S_OK);
    ComPtr<IObjectWithSite> withSite;
    ComPtr<IOleCommandTarget> target;
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(bho.As(&withSite), S_OK);
    ASSERT_EQ(bho.As(&target), S_OK);
    ASSERT_EQ(bho.As(&dispatch), S_OK);

    void* site = reinterpret_cast<void*>(1);
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, &site), E_FAIL);
    EXPECT_EQ(site, nullptr);

    // Only the first command is enabled.
    OLECMD commands[2] = {{1, 0}, {2, 0}};
    EXPECT_EQ(target->QueryStatus(nullptr, 2, commands, nullptr), S_OK);
    EXPECT_EQ(commands[0].cmdf, static_cast<DWORD>(OLECMDF_ENABLED));
    EXPECT_EQ(commands[1].cmdf, 0u);

    // Only "NickTest" has a name, in any letter case; the walk stops at the first match.
    wchar_t nick[] = L"NickTest", other[] = L"nicktest2";
    LPOLESTR names[] = {other, nick, nick};
    constexpr DISPID kUntouched = 4711;
    DISPID ids[] = {kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], kUntouched);
    EXPECT_EQ(ids[1], 28004);
    EXPECT_EQ(ids[2], kUntouched);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
}

}  // namespace
}  // namespace kvshake::testing
