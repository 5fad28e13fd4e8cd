#include "browser_double/browser_double.h"

#include <gtest/gtest.h>

#include <exdispid.h>
#include <olectl.h>
#include <shlguid.h>

#include <atomic>
#include <string>
#include <vector>

#include "browser_double/site_double.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;

// One Invoke call as a sink saw it.
struct Delivery {
    DISPID dispid = DISPID_UNKNOWN;
    WORD flags = 0;
    bool iidNull = false;
    UINT namedArgs = 0;
    std::vector<ScopedVariant> args;  // as passed: the last argument first
};

// A DWebBrowserEvents2 sink that keeps every call it receives.
class RecordingSink final : public DispatchStubs {
  public:
    static ComPtr<RecordingSink> Create() { return ComPtr<RecordingSink>(new RecordingSink()); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID, WORD flags,
                                     DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        Delivery delivery;
        delivery.dispid = dispid;
        delivery.flags = flags;
        delivery.iidNull = riid == IID_NULL;
        if (params != nullptr) {
            delivery.namedArgs = params->cNamedArgs;
            for (UINT i = 0; i < params->cArgs; ++i) delivery.args.emplace_back(params->rgvarg[i]);
        }
        deliveries.push_back(std::move(delivery));
        return S_OK;
    }

    ULONG References() const { return references_.load(); }

    std::vector<Delivery> deliveries;

  private:
    RecordingSink() = default;
    std::atomic<ULONG> references_{0};
};

// The browser's events connection point, reached the way a helper object reaches it: through
// its site's service.
ComPtr<IConnectionPoint> EventsThroughSite(SiteDouble& site) {
    ComPtr<IServiceProvider> services;
    ComPtr<IWebBrowser2> browser;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (FAILED(site.QueryInterface(IID_PPV_ARGS(&services))) ||
        FAILED(services->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&browser))) ||
        FAILED(browser.As(&container)) ||
        FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
        return nullptr;
    }
    return point;
}

// The thread joins a single-threaded apartment for the test's life, as a browser tab's thread.
class Apartment {
  public:
    Apartment() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~Apartment() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    HRESULT Result() const { return hr_; }

  private:
    HRESULT hr_;
};

class BrowserDoubleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        ASSERT_TRUE(browser_);
        ASSERT_TRUE(site_);
    }

    // First in, last out: the objects below go before the apartment does.
    Apartment apartment_;
    ComPtr<BrowserDouble> browser_ = BrowserDouble::Create();
    ComPtr<SiteDouble> site_ = SiteDouble::Create(browser_);
};

TEST_F(BrowserDoubleTest, EventsReachAdvisedSinksInTheBrowsersArgumentOrderUntilUnadvise) {
    ComPtr<IConnectionPoint> point = EventsThroughSite(*site_.Get());
    ASSERT_TRUE(point);
    auto sink = RecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_HRESULT_SUCCEEDED(point->Advise(sink.Get(), &cookie));
    EXPECT_EQ(cookie, 1u);
    EXPECT_EQ(browser_->SinkCount(), 1u);

    browser_->FireWindowStateChanged(0x3, 0x1);
    browser_->FireQuit();
    ASSERT_EQ(sink->deliveries.size(), 2u);
    const Delivery& state = sink->deliveries[0];
    EXPECT_EQ(state.dispid, DISPID_WINDOWSTATECHANGED);
    EXPECT_EQ(state.flags, DISPATCH_METHOD);
    EXPECT_TRUE(state.iidNull);
    EXPECT_EQ(state.namedArgs, 0u);
    ASSERT_EQ(state.args.size(), 2u);
    EXPECT_EQ(state.args[0].type(), VT_I4);
    EXPECT_EQ(state.args[0].get().lVal, 0x1) << "rgvarg[0] is dwValidFlagsMask";
    EXPECT_EQ(state.args[1].type(), VT_I4);
    EXPECT_EQ(state.args[1].get().lVal, 0x3) << "rgvarg[1] is dwWindowStateFlags";
    EXPECT_EQ(sink->deliveries[1].dispid, DISPID_ONQUIT);
    EXPECT_TRUE(sink->deliveries[1].args.empty());

    const ULONG heldWhileAdvised = sink->References();
    ASSERT_HRESULT_SUCCEEDED(point->Unadvise(cookie));
    EXPECT_EQ(sink->References(), heldWhileAdvised - 1) << "Unadvise lets go of the sink";
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    browser_->FireQuit();
    EXPECT_EQ(sink->deliveries.size(), 2u);
    EXPECT_EQ(browser_->SinkCount(), 0u);
    EXPECT_EQ(browser_->Calls(), (std::vector<std::wstring>{L"Advise", L"Unadvise", L"Unadvise"}));
}

}  // namespace
}  // namespace kvshake::testing
