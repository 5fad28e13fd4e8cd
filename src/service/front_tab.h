#pragma once

namespace kvshake {

// The tab in front, as the service layer needs it. The service knows nothing of tabs, windows or
// the browser: the layer that owns the tabs gives it an implementation. Both calls return once
// the tab has done the work, or once it has been given up on because it no longer answers.
class FrontTab {
  public:
    // A shake: the tab in front uploads its page.
    virtual void Upload() noexcept = 0;
    // The toolbar button of the tab in front shows the active or the inactive look.
    virtual void ShowActivation(bool active) noexcept = 0;

  protected:
    ~FrontTab() = default;
};

}  // namespace kvshake
