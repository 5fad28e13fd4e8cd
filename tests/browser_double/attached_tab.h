#pragma once

#include <wrl/client.h>

#include <utility>

#include "bho/shake_bho.h"
#include "browser_double/browser_double.h"
#include "browser_double/site_double.h"

namespace kvshake::testing {

// A tab of this process: a helper object of the module's code linked into the test program,
// sited on a browser double for its life.
class AttachedTab {
  public:
    AttachedTab() : AttachedTab(BrowserDouble::Create()) {}
    // Another helper object for a browser object that may have had one before.
    explicit AttachedTab(Microsoft::WRL::ComPtr<BrowserDouble> browser)
        : browser_(std::move(browser)) {
        CShakeBHO::CreateInstance(IID_PPV_ARGS(&helper_));
        const Microsoft::WRL::ComPtr<SiteDouble> site = SiteDouble::Create(browser_);
        helper_->SetSite(static_cast<IServiceProvider*>(site.Get()));
    }
    ~AttachedTab() { helper_->SetSite(nullptr); }
    AttachedTab(const AttachedTab&) = delete;
    AttachedTab& operator=(const AttachedTab&) = delete;

    CShakeBHO& Bho() { return *static_cast<CShakeBHO*>(helper_.Get()); }
    const Microsoft::WRL::ComPtr<BrowserDouble>& Browser() const { return browser_; }

  private:
    Microsoft::WRL::ComPtr<BrowserDouble> browser_;
    Microsoft::WRL::ComPtr<IObjectWithSite> helper_;
};

}  // namespace kvshake::testing
