// kvshake_browser_sim.exe: one browser process of the demo. Its tabs are browser doubles that
// show pages read from page description files, and each tab gets the helper objects that the
// registry lists as Browser Helper Objects, created through COM as the browser creates them.
// Every tab lives on this process's one thread, which handles window messages between commands.
//
// Commands come on standard input, one a line; what happens is printed on standard output, one
// timestamped line an event:
//   open TAB PAGEFILE   a new tab showing the page; prints "opened TAB tab-number N helpers K"
//   front TAB           the user brings the tab to the front (WindowStateChanged)
//   press TAB           the user presses the tab's toolbar button: its helper objects' Exec
//   login URL NAME      the service's bind page URL loads in a frame of the panel, its window
//                       named NAME (the account), as after a QR login: the panel of this
//                       process, or else the one that "rundll32.exe KVShake.dll,ShowPanel" opened
//   own-panel           the window that rundll32 opened: "own-panel W x H" (its client area),
//                       or "own-panel none"
//   close-panel         the user closes that window; prints "closed panel"
//   close TAB           the user closes the tab: OnQuit, then the helper objects are detached
//   checker             which process and tab hold the module's checker role
//   module              which module file this process loaded, and its version (from the loaded
//                       image, so a file replaced on disk since does not mislead)
//   exit                closes what is still open and ends (so does the end of the input)
// Unasked, it prints "tip shown TAB ..." when a tab's page shows the module's tip element and
// "tip hidden TAB after N ms" when it is hidden again, and "panel W x H URL" when the panel
// window's size or page changes. The panel's browser is the control double, registered in place
// of the browser's page engine; this process reaches it through the double's test functions.
#include <windows.h>
#include <docobj.h>
#include <fcntl.h>
#include <io.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bho/browser_properties.h"
#include "browser_double/browser_double.h"
#include "browser_double/page_double.h"
#include "browser_double/site_double.h"
#include "control_double/control_double.h"
#include "foundation/shared_state.h"
#include "foundation/unique_resource.h"
#include "foundation/critical_section.h"
#include "support/test_paths.h"

namespace kvshake::demo {
namespace {

using Microsoft::WRL::ComPtr;
using testing::BrowserDouble;
using testing::PageDouble;
using testing::SiteDouble;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kHelperObjectsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr wchar_t kTipId[] = L"kovinShakeContainer";
constexpr int kBrowserVersion = 9;  // the window tree and app version of the pages' browser
// Where the user's cursor is when the toolbar button is pressed. There is no toolbar here, so
// the panel opens at the cursor.
constexpr POINT kButtonPoint = {900, 60};
constexpr wchar_t kPanelTitle[] = L"Win32 API";
constexpr wchar_t kOwnPanelTitle[] = L"摇一摇传图";  // the panel opened without the toolbar
constexpr wchar_t kPanelClassPrefix[] = L"shakewindow";
// The driver sends a command at least this often; without one the process ends by itself.
constexpr auto kIdleLimit = std::chrono::seconds(120);

void Say(const char* format, ...) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    std::printf("%02d:%02d:%02d.%03d ", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    std::string narrow(
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(),
                          static_cast<int>(narrow.size()), nullptr, nullptr);
    return narrow;
}

std::wstring Widen(const std::string& text) {
    const int size = static_cast<int>(text.size());
    std::wstring wide(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(),
                          static_cast<int>(wide.size()));
    return wide;
}

// Lines of standard input, read on a thread of their own so that the tab thread keeps handling
// window messages. The end of the input reads as "exit".
class CommandReader {
  public:
    CommandReader() : ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_.reset(::CreateThread(nullptr, 0, &CommandReader::Read, this, 0, nullptr));
    }
    HANDLE Ready() const { return ready_.get(); }

    std::vector<std::string> Take() {
        std::lock_guard<CriticalSection> lock(mutex_);
        std::vector<std::string> lines(lines_.begin(), lines_.end());
        lines_.clear();
        ::ResetEvent(ready_.get());
        return lines;
    }

  private:
    static DWORD WINAPI Read(void* self) {
        auto* reader = static_cast<CommandReader*>(self);
        char buffer[4096];
        while (std::fgets(buffer, sizeof(buffer), stdin)) {
            std::string line(buffer);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            reader->Add(std::move(line));
        }
        reader->Add("exit");
        return 0;
    }

    void Add(std::string line) {
        std::lock_guard<CriticalSection> lock(mutex_);
        lines_.push_back(std::move(line));
        ::SetEvent(ready_.get());
    }

    CriticalSection mutex_;
    std::deque<std::string> lines_;
    unique_handle ready_;
    unique_handle thread_;  // never joined: it may sit in a read until the process ends
};

// The helper objects the browser would load: the subkeys of the Browser Helper Objects key, the
// user's first and then the machine's, each class once.
struct HelperClass {
    CLSID clsid;
    std::wstring name;
    const char* root;
};

std::vector<HelperClass> RegisteredHelperClasses() {
    std::vector<HelperClass> classes;
    const std::pair<HKEY, const char*> roots[] = {{HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
                                                  {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}};
    for (const auto& [root, rootName] : roots) {
        unique_hkey key;
        if (::RegOpenKeyExW(root, kHelperObjectsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            continue;
        }
        wchar_t name[64];
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(std::size(name));
            if (::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr,
                                nullptr) != ERROR_SUCCESS) {
                break;
            }
            CLSID clsid;
            if (FAILED(::CLSIDFromString(name, &clsid))) continue;
            bool known = false;
            for (const HelperClass& other : classes) known = known || other.clsid == clsid;
            if (!known) classes.push_back({clsid, name, rootName});
        }
    }
    return classes;
}

// A test function of the control double, once the panel has loaded it; null before.
template <typename Function>
Function ControlDoubleExport(const char* name) {
    const HMODULE module = ::GetModuleHandleW(L"kvshake_control_double.dll");
    return module ? testing::ExportOf<Function>(module, name) : nullptr;
}

BOOL CALLBACK KeepPanel(HWND window, LPARAM found) {
    wchar_t className[64] = {}, title[64] = {};
    ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
    ::GetWindowTextW(window, title, static_cast<int>(std::size(title)));
    if (std::wstring(className).rfind(kPanelClassPrefix, 0) != 0 ||
        std::wstring(title) != kPanelTitle) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The panel window among this thread's windows, or null.
HWND FindPanel() {
    HWND panel = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), KeepPanel, reinterpret_cast<LPARAM>(&panel));
    return panel;
}

struct Tab {
    ComPtr<BrowserDouble> browser;
    std::shared_ptr<PageDouble> page;
    std::vector<ComPtr<IObjectWithSite>> helpers;
    bool tipShown = false;
    Clock::time_point tipShownAt;
};

// What is left of a command line after its words so far, without the blanks before it.
std::string RestOfLine(std::istringstream& words) {
    std::string rest;
    std::getline(words >> std::ws, rest);
    return rest;
}

class Browser {
  public:
    // False once the process is to end.
    bool Run(const std::string& line) {
        std::istringstream words(line);
        std::string command, tab;
        words >> command >> tab;
        if (command == "open") {
            Open(tab, RestOfLine(words));
        } else if (command == "front") {
            Front(tab);
        } else if (command == "press") {
            Press(tab);
        } else if (command == "login") {
            Login(tab, RestOfLine(words));
        } else if (command == "own-panel") {
            OwnPanel();
        } else if (command == "close-panel") {
            ClosePanel();
        } else if (command == "close") {
            Close(tab);
        } else if (command == "checker") {
            Checker();
        } else if (command == "module") {
            LoadedModule();
        } else if (command == "exit") {
            while (!tabs_.empty()) Close(tabs_.begin()->first);
            return false;
        } else if (!command.empty()) {
            Say("error unknown command %s", command.c_str());
        }
        return true;
    }

    // The module changes a page and the panel only on this thread, while it handles a message.
    void Watch() {
        WatchTips();
        WatchPanel();
    }

  private:
    void WatchTips() {
        for (auto& [name, tab] : tabs_) {
            const std::optional<testing::ElementState> tip = tab.page->ElementById(kTipId);
            const bool shown = tip && tip->inBody && tip->display != L"none";
            if (shown && !tab.tipShown) {
                tab.tipShownAt = Clock::now();
                Say("tip shown %s style %s", name.c_str(), Narrow(tip->cssText).c_str());
            } else if (!shown && tab.tipShown) {
                const auto elapsed = Clock::now() - tab.tipShownAt;
                Say("tip hidden %s after %ld ms", name.c_str(),
                    static_cast<long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
            }
            tab.tipShown = shown;
        }
    }

    void WatchPanel() {
        std::string panel = "none";
        if (const HWND window = FindPanel()) {
            RECT rect{};
            ::GetWindowRect(window, &rect);
            const auto location =
                ControlDoubleExport<testing::control_double::LocationFn>("ControlDoubleLocation");
            panel = std::to_string(rect.right - rect.left) + " x " +
                    std::to_string(rect.bottom - rect.top) + " " +
                    (location ? Narrow(location()) : std::string("(no control)"));
        }
        if (panel != panel_) Say("panel %s", panel.c_str());
        panel_ = panel;
    }

    void Open(const std::string& name, const std::string& path) {
        std::string error;
        const std::optional<testing::PageDescription> description =
            testing::ReadPageFile(Widen(path), &error);
        if (!description) {
            Say("error %s: %s", path.c_str(), error.c_str());
            return;
        }
        Tab tab;
        tab.browser = BrowserDouble::Create();
        if (!tab.browser) {
            Say("error no browser window for %s", name.c_str());
            return;
        }
        tab.browser->BuildWindowTree(kBrowserVersion);
        tab.page = PageDouble::Create(*description);
        tab.browser->ShowPage(tab.page);
        tab.browser->SetLocationUrl(description->url);
        for (const HelperClass& helperClass : RegisteredHelperClasses()) {
            ComPtr<IObjectWithSite> helper;
            const HRESULT hr = ::CoCreateInstance(helperClass.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_PPV_ARGS(&helper));
            if (FAILED(hr)) {
                Say("error %s: CoCreateInstance of %s failed, 0x%08lx", name.c_str(),
                    Narrow(helperClass.name).c_str(), static_cast<unsigned long>(hr));
                continue;
            }
            Say("helper %s %s from %s", name.c_str(), Narrow(helperClass.name).c_str(),
                helperClass.root);
            const ComPtr<SiteDouble> site = SiteDouble::Create(tab.browser);
            helper->SetSite(static_cast<IServiceProvider*>(site.Get()));
            tab.helpers.push_back(helper);
        }
        const ScopedVariant number = tab.browser->Property(kTabNumberProperty);
        Say("opened %s tab-number %ld helpers %u", name.c_str(),
            number.type() == VT_I4 ? static_cast<long>(number.get().lVal) : -1L,
            static_cast<unsigned>(tab.helpers.size()));
        tabs_[name] = std::move(tab);
    }

    Tab* Find(const std::string& name) {
        const auto tab = tabs_.find(name);
        if (tab != tabs_.end()) return &tab->second;
        Say("error no tab %s", name.c_str());
        return nullptr;
    }

    void Front(const std::string& name) {
        Tab* tab = Find(name);
        if (!tab) return;
        constexpr DWORD kVisible =
            OLECMDIDF_WINDOWSTATE_USERVISIBLE | OLECMDIDF_WINDOWSTATE_ENABLED;
        tab->browser->FireWindowStateChanged(kVisible, kVisible);
        Say("front %s", name.c_str());
    }

    void Press(const std::string& name) {
        Tab* tab = Find(name);
        if (!tab) return;
        ::SetCursorPos(kButtonPoint.x, kButtonPoint.y);
        for (const ComPtr<IObjectWithSite>& helper : tab->helpers) {
            ComPtr<IOleCommandTarget> command;
            if (SUCCEEDED(helper.As(&command))) {
                command->Exec(nullptr, 0, OLECMDEXECOPT_DODEFAULT, nullptr, nullptr);
            }
        }
        Say("pressed %s at %ld,%ld", name.c_str(), static_cast<long>(kButtonPoint.x),
            static_cast<long>(kButtonPoint.y));
    }

    static void Login(const std::string& url, const std::string& account) {
        const auto fire = ControlDoubleExport<testing::control_double::FireFrameCompleteFn>(
            "ControlDoubleFireFrameComplete");
        if (fire && FindPanel()) {
            fire(Widen(url).c_str(), Widen(account).c_str());
        } else if (!testing::control_double::SendFrameComplete(
                       ::FindWindowW(nullptr, kOwnPanelTitle), Widen(url), Widen(account))) {
            Say("error no panel shows the login");
            return;
        }
        Say("login %s", url.c_str());
    }

    static void OwnPanel() {
        const HWND window = ::FindWindowW(nullptr, kOwnPanelTitle);
        RECT client{};
        if (!window || !::GetClientRect(window, &client)) {
            Say("own-panel none");
            return;
        }
        Say("own-panel %ld x %ld", static_cast<long>(client.right),
            static_cast<long>(client.bottom));
    }

    static void ClosePanel() {
        const HWND window = ::FindWindowW(nullptr, kOwnPanelTitle);
        if (!window) {
            Say("error no panel window to close");
            return;
        }
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        Say("closed panel");
    }

    // By value: the name may be the key of the tab that goes.
    void Close(const std::string name) {
        Tab* tab = Find(name);
        if (!tab) return;
        tab->browser->FireQuit();
        for (const ComPtr<IObjectWithSite>& helper : tab->helpers) helper->SetSite(nullptr);
        tabs_.erase(name);
        Say("closed %s", name.c_str());
    }

    // The module's machine run, as the module in this process names it.
    static void Checker() {
        const HMODULE module = ::GetModuleHandleW(L"KVShake.dll");
        const std::wstring sid = CurrentUserSid();
        const SharedBlockMapping mapping =
            module ? SharedBlockMapping::Open(SharedBlockName(sid, module), sid)
                   : SharedBlockMapping{};
        if (!mapping.Block()) {
            Say("error the module is not loaded here");
            return;
        }
        const SharedBlock* shared = mapping.Block();
        if (!shared->g_bHasCheckThread) {
            Say("checker none");
            return;
        }
        Say("checker process %lu tab-number %ld",
            static_cast<unsigned long>(shared->g_dwCheckProcessId),
            static_cast<long>(shared->g_nCheckTabNum));
    }

    static void LoadedModule() {
        const HMODULE module = ::GetModuleHandleW(L"KVShake.dll");
        const HRSRC found =
            module ? ::FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION)
                   : nullptr;
        const HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
        const auto* data = static_cast<const BYTE*>(loaded ? ::LockResource(loaded) : nullptr);
        if (!data) {
            Say("error the module is not loaded here");
            return;
        }
        // VerQueryValueW works in a copy of its own.
        std::vector<BYTE> copy(data, data + ::SizeofResource(module, found));
        VS_FIXEDFILEINFO* info = nullptr;
        UINT size = 0;
        if (!::VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&info), &size) ||
            size < sizeof(VS_FIXEDFILEINFO)) {
            Say("error the module has no version");
            return;
        }
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(module, path, MAX_PATH);
        Say("module %s version %u.%u.%u.%u", Narrow(path).c_str(), HIWORD(info->dwFileVersionMS),
            LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
            LOWORD(info->dwFileVersionLS));
    }

    std::map<std::string, Tab> tabs_;
    std::string panel_ = "none";
};

int Run() {
    Say("started process %lu", static_cast<unsigned long>(::GetCurrentProcessId()));
    CommandReader reader;
    Browser browser;
    auto deadline = Clock::now() + kIdleLimit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            Say("error no command for %ld s, closing", static_cast<long>(kIdleLimit.count()));
            browser.Run("exit");
            return 3;
        }
        const HANDLE ready = reader.Ready();
        const DWORD wait = ::MsgWaitForMultipleObjects(
            1, &ready, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        browser.Watch();
        if (wait != WAIT_OBJECT_0) continue;
        deadline = Clock::now() + kIdleLimit;
        for (const std::string& line : reader.Take()) {
            if (!browser.Run(line)) return 0;
            browser.Watch();
        }
    }
}

}  // namespace
}  // namespace kvshake::demo

int wmain() {
    _setmode(_fileno(stdout), _O_BINARY);  // the driver reads plain "\n" line ends
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = kvshake::demo::Run();
    ::CoUninitialize();
    return result;
}
