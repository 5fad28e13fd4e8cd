// The toolbar button's command: find where the button is on the screen, then show the panel
// beside it, or create the panel when the machine has none.
#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <cwchar>
#include <optional>

#include "bho/hidden_window.h"
#include "bho/remote_memory.h"
#include "bho/shake_bho.h"
#include "bho/window_locate.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {

// A toolbar of another process answers within this, or is given up on.
constexpr UINT kToolbarReplyMs = 5000;
// The button record of a toolbar of either kind: 20 bytes in a 32-bit process, 32 in a 64-bit
// one. Both keep the command id as the second 32-bit field.
constexpr size_t kButtonRecordBytes = 32;
constexpr size_t kCommandIdOffset = 4;
constexpr size_t kRectBytes = 260;

void LogError(const char* format, DWORD error) {
    WriteError(StringPrintf(format, static_cast<int>(error)));
}

// Sends a message to a window that may belong to another, possibly hung, process; no answer when
// it timed out or its thread is hung, which an answer of 0 is not.
std::optional<LRESULT> SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                               kToolbarReplyMs, &result)) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

// Asks the toolbar, in its own process's memory, for the button under point (client
// coordinates) and, when there is one, for the screen x of the button's right edge.
void FindButton(HWND toolbar, HANDLE process, POINT point) {
    const RemoteBlock remotePoint(process, sizeof(POINT));
    if (!remotePoint) {
        LogError("VirtualAllocEx Point Fail, Error Code:%d", ::GetLastError());
        return;
    }
    WriteLog("VirtualAllocEx Point suc");
    remotePoint.Write(&point, sizeof(point));
    // The index of the button under the point, the first being 0; below 0 for none.
    const std::optional<LRESULT> hit = SendBounded(toolbar, TB_HITTEST, 0, remotePoint.Address());
    const int index = hit ? static_cast<int>(*hit) : -1;
    if (index < 0) {
        WriteLog("Find Button Fail");
        SharedState().g_bFindButton = false;
        return;
    }
    WriteLog("Find Button Suc");
    const RemoteBlock remoteButton(process, kButtonRecordBytes);
    if (!remoteButton) {
        LogError("VirtualAllocEx TBBUTTON Fail, Error Code:%d", ::GetLastError());
        return;
    }
    BYTE button[kButtonRecordBytes] = {};
    if (!SendBounded(toolbar, TB_GETBUTTON, index, remoteButton.Address()).value_or(0) ||
        !remoteButton.Read(button, sizeof(button))) {
        return;
    }
    int commandId = 0;
    std::memcpy(&commandId, button + kCommandIdOffset, sizeof(commandId));
    const RemoteBlock remoteRect(process, kRectBytes);
    if (!remoteRect) {
        WriteLog(StringPrintf("VirtualAllocEx RECT Fail, Error Code:%d",
                              static_cast<int>(::GetLastError())));
        return;
    }
    RECT buttonRect{};
    if (!SendBounded(toolbar, TB_GETRECT, commandId, remoteRect.Address()).value_or(0)) return;
    SharedState().g_bFindButton = true;
    remoteRect.Read(&buttonRect, sizeof(buttonRect));
    POINT rightBottom = {buttonRect.right, buttonRect.bottom};
    ::ClientToScreen(toolbar, &rightBottom);
    SharedState().g_ptLocate.x = rightBottom.x;
}

// Only what the toolbar messages need of the other process.
constexpr DWORD kToolbarProcessAccess =
    PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION;

void FindButtonInItsProcess(HWND window, POINT clientPoint) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId == 0) {
        LogError("GetWindowThreadProcessId Fail, Error Code:%d", ::GetLastError());
        return;
    }
    WriteLog(StringPrintf("GetWindowThreadProcessId Suc, id:%d", static_cast<int>(processId)));
    const unique_handle process(::OpenProcess(kToolbarProcessAccess, FALSE, processId));
    if (!process) {
        LogError("OpenProcess Fail, Error Code:%d", ::GetLastError());
        return;
    }
    WriteLog("OpenProcess suc");
    FindButton(window, process.get(), clientPoint);
}

void ShowPanelAgain(HWND panel) {
    WriteLog("Exec Show Window");
    RECT rect{};
    ::GetWindowRect(panel, &rect);
    const LONG width = rect.right - rect.left, height = rect.bottom - rect.top;
    const POINT corner = GetWindowLocate(width, height);
    // The panel may belong to another process, of a higher integrity than a Protected Mode tab,
    // whose windows such a tab may neither move nor show: the panel's own thread does both, asked
    // by a message it lets in, and this press hands it the right to come to the front.
    DWORD panelProcess = 0;
    ::GetWindowThreadProcessId(panel, &panelProcess);
    ::AllowSetForegroundWindow(panelProcess);
    SendBounded(panel, WM_SHOW_PANEL, 0, PanelCornerParam(corner));
}

}  // namespace

STDMETHODIMP CShakeBHO::Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) {
    try {
        LocateButton();
        // A panel closed from outside, or whose process has ended, is forgotten and made anew.
        const HWND panel = SharedState().g_hwnd;
        if (SharedState().g_bWindowCreated && IsPanelWindow(panel)) {
            ShowPanelAgain(panel);
        } else if (!CreatePanel()) {
            if (const HWND live = SharedState().g_hwnd; IsPanelWindow(live)) ShowPanelAgain(live);
        }
    } catch (...) {
        WriteError("Exec ended on an exception");
    }
    return S_OK;
}

void CShakeBHO::LocateButton() {
    SharedState().g_bFindButton = false;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    SharedState().g_ptLocate = cursor;
    const HWND window = ::WindowFromPoint(cursor);
    if (!window) return;
    ::GetWindowRect(window, &SharedState().g_rcLocate);
    wchar_t className[260] = {};
    ::GetClassNameW(window, className, ARRAYSIZE(className));
    WriteWCharLog("Toolbar ClassName: ", className);
    if (std::wcscmp(className, L"ToolbarWindow32") == 0) {
        SharedState().g_ptLocate.y = SharedState().g_rcLocate.bottom;
        SharedState().ButtonLocateType = kToolbar;
        // The toolbar messages mean something else to a window of any other class.
        POINT clientPoint = cursor;
        ::ScreenToClient(window, &clientPoint);
        FindButtonInItsProcess(window, clientPoint);
    } else if (std::wcscmp(className, L"Internet Explorer_Server") == 0) {
        SharedState().ButtonLocateType = kPageArea;
    } else if (const HWND page = FindIES()) {
        ::GetWindowRect(page, &SharedState().g_rcLocate);
        SharedState().ButtonLocateType = kPageArea;
    } else {
        SharedState().ButtonLocateType = kOther;
    }
}

}  // namespace kvshake
