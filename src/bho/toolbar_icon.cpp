// The toolbar button's two looks, inactive and active, before version 8 of the browser: the
// button is found by its text in the browser's own command bar, in this process.
#include <windows.h>

#include <commctrl.h>

#include <cwchar>

#include "bho/shake_bho.h"
#include "com/module.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

namespace {

constexpr wchar_t kInactiveText[] = L"点亮摇一摇";
constexpr wchar_t kActiveText[] = L"摇一摇传图";
constexpr UINT kInactiveBitmap = 221, kActiveBitmap = 222;
constexpr int kButtonTextChars = 260;

HWND CommandBarToolbar(HWND top) {
    const HWND commandBar = ::FindWindowExW(top, nullptr, L"CommandBarClass", nullptr);
    const HWND rebar =
        commandBar ? ::FindWindowExW(commandBar, nullptr, L"ReBarWindow32", nullptr) : nullptr;
    return rebar ? ::FindWindowExW(rebar, nullptr, L"ToolbarWindow32", nullptr) : nullptr;
}

// The button that shows either look's text; nothing when none does.
std::optional<TBBUTTON> ShakeButton(HWND toolbar) {
    const int count = static_cast<int>(::SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
    WriteLog(StringPrintf("SetToolBarIcon, bottomcount:%d", count));
    for (int index = 0; index < count; ++index) {
        TBBUTTON button{};
        if (!::SendMessageW(toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button))) {
            WriteError(StringPrintf("SetToolBarIcon, GetButton Fail:%d, Error Code%d", index,
                                    static_cast<int>(::GetLastError())));
            continue;
        }
        // The text is read only when it fits the buffer: the message itself takes no size.
        wchar_t text[kButtonTextChars] = {};
        const LRESULT length = ::SendMessageW(toolbar, TB_GETBUTTONTEXTW, button.idCommand, 0);
        if (length <= 0 || length >= kButtonTextChars ||
            !::SendMessageW(toolbar, TB_GETBUTTONTEXTW, button.idCommand,
                            reinterpret_cast<LPARAM>(text))) {
            WriteError(StringPrintf("SetToolBarIcon, GetButtonText Fail:%d, Error Code%d", index,
                                    static_cast<int>(::GetLastError())));
            continue;
        }
        if (std::wcscmp(text, kActiveText) == 0 || std::wcscmp(text, kInactiveText) == 0) {
            return button;
        }
    }
    return std::nullopt;
}

}  // namespace

bool CShakeBHO::SetToolBarIcon(bool active) {
    if (!m_spWebBrowser) return false;
    GetIEVersion();
    if (SharedState().g_nIEVersion >= 8) {
        WriteLog("Can not SetToolBarIcon because >=ie8");
        return false;
    }
    SHANDLE_PTR top = 0;
    m_spWebBrowser->get_HWND(&top);
    const HWND toolbar = CommandBarToolbar(reinterpret_cast<HWND>(top));
    DWORD processId = 0;
    const DWORD threadId = ::GetWindowThreadProcessId(toolbar, &processId);
    WriteLog(StringPrintf("ToolBar Process Id:%d Thread Id:%d Current Process Id:%d, Thread Id:%d",
                          static_cast<int>(processId), static_cast<int>(threadId),
                          static_cast<int>(::GetCurrentProcessId()),
                          static_cast<int>(::GetCurrentThreadId())));
    if (!toolbar || processId != ::GetCurrentProcessId()) {
        WriteError("SetToolBarIcon, ProcessId not same");
        return false;
    }
    const std::optional<TBBUTTON> button = ShakeButton(toolbar);
    WriteLog("SetToolBarIcon For End");
    if (!button) {
        WriteError("SetToolBarIcon Find Shake Btn Fail");
        return false;
    }
    WriteLog("SetToolBarIcon Find Shake Btn Suc");
    const HBITMAP bitmap = ::LoadBitmapW(
        Module().Instance(), MAKEINTRESOURCEW(active ? kActiveBitmap : kInactiveBitmap));
    const auto images =
        reinterpret_cast<HIMAGELIST>(::SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0));
    // The button's own image takes the look, so the list keeps its size however often the look
    // changes; a button without an image of the list is given one.
    int image = button->iBitmap;
    if (!::ImageList_Replace(images, image, bitmap, nullptr)) {
        image = ::ImageList_Add(images, bitmap, nullptr);
    }
    if (bitmap) ::DeleteObject(bitmap);  // the image list keeps a copy

    wchar_t text[6];
    std::wcscpy(text, active ? kActiveText : kInactiveText);
    TBBUTTONINFOW info{};
    info.cbSize = sizeof(info);
    info.dwMask = TBIF_IMAGE | TBIF_TEXT;
    info.iImage = image;
    info.pszText = text;
    info.cchText = 5;
    if (!::SendMessageW(toolbar, TB_SETBUTTONINFOW, button->idCommand,
                        reinterpret_cast<LPARAM>(&info))) {
        WriteError(StringPrintf("SetToolBarIcon, SetButtonInfo Fail, Error Code:%d",
                                static_cast<int>(::GetLastError())));
        return false;
    }
    WriteLog("SetToolBarIcon, SetButtonInfo Suc");
    return true;
}

}  // namespace kvshake
