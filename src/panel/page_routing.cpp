#include "foundation/log.h"
#include "panel/web_browser.h"

namespace kvshake {

void CWebBrowser::OnDocumentComplete(IDispatch*) { WriteLog("WebBrowser Document onload"); }

void CWebBrowser::ShowActiveState(bool) {}

void CWebBrowser::ShowUserName() {}

}  // namespace kvshake
