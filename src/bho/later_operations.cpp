// Operations of the helper object whose work comes with the toolbar button and the panel. Until
// each is built it only logs that it was asked for, so that the paths that call it can already be
// followed in the log.
#include "bho/shake_bho.h"
#include "foundation/log.h"

namespace kvshake {

void CShakeBHO::SetToolBarIcon(bool) {
    WriteLog("SetToolBarIcon: the toolbar icon is not built yet");
}

void CShakeBHO::GoPage(const wchar_t*) { WriteLog("GoPage: the panel is not built yet"); }

void CShakeBHO::RefreshPanelPage() { WriteLog("RefreshPanelPage: the panel is not built yet"); }

STDMETHODIMP CShakeBHO::Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) {
    WriteLog("Exec: the toolbar command is not built yet");
    return S_OK;
}

}  // namespace kvshake
