// Operations of the helper object whose work comes with the toolbar button's look. Until
// each is built it only logs that it was asked for, so that the paths that call it can already be
// followed in the log.
#include "bho/shake_bho.h"
#include "foundation/log.h"

namespace kvshake {

void CShakeBHO::SetToolBarIcon(bool) {
    WriteLog("SetToolBarIcon: the toolbar icon is not built yet");
}

}  // namespace kvshake
