// kvshake_testhost.exe: a browser process of its own, for the tests that must show what happens
// across processes and for the demo's browsers. It runs the commands of its command line in order
// (the table in Commands; "input" runs lines of them from standard input, each answered by "done")
// and prints what they report. Its one thread is the tabs' thread: it handles window messages
// while it waits, and reports, unasked, "tip shown TAB style CSS" when the module's tip appears in
// TAB's page, "tip hidden TAB after N ms" (counted from TAB's last "upload", or else from when it
// appeared) and "panel W x H URL" when the size or page of this thread's panel changes. A command
// that fails prints "error ..." and ends the process with an exit code of its own.
// A tab is a browser double named TAB with the helper objects attached to it ("attach": one from
// the module; "open": those that the machine's Browser Helper Objects key lists, through COM, as
// the browser opens a tab); "page TAB FILE" shows the page that FILE describes (see ReadPageFile).
// The panel commands act on this thread's panel, whose browser is the control double, else on
// the window that rundll32 opened for a panel of its own.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <ocidl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "KVShake_h.h"
#include "bho/browser_properties.h"
#include "bho/hidden_window.h"
#include "browser_double/browser_double.h"
#include "browser_double/site_double.h"
#include "control_double/control_double.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"
#include "support/child_process.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

using Microsoft::WRL::ComPtr;

// The command line, read one word at a time.
class Words {
  public:
    explicit Words(std::vector<std::wstring> words) : words_(std::move(words)) {}
    bool Done() const { return next_ >= words_.size(); }
    std::wstring Text() { return next_ < words_.size() ? words_[next_++] : L""; }
    long Number() { return std::wcstol(Text().c_str(), nullptr, 0); }

  private:
    std::vector<std::wstring> words_;
    size_t next_ = 0;
};

constexpr int kContinue = -1;
constexpr DWORD kInputIdleMs = 120000;
constexpr int kBrowserVersion = 9;  // the window tree of the demo's browser
constexpr wchar_t kTipId[] = L"kovinShakeContainer";
constexpr wchar_t kOwnPanelTitle[] = L"摇一摇传图";  // the panel opened without the toolbar
constexpr wchar_t kHelperObjectsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

std::string Utf8(const std::wstring& text) { return WideToUtf8(text.c_str()).value_or("?"); }

int Fail(int exitCode, const char* what, const std::wstring& name = L"") {
    Say("error %s %s", what, Utf8(name).c_str());
    return exitCode;
}

struct Tab {
    ComPtr<BrowserDouble> browser;
    std::vector<ComPtr<IObjectWithSite>> helpers;
    std::shared_ptr<PageDouble> page;
    bool tipShown = false;
    DWORD tipSince = 0;
    std::optional<DWORD> uploadedAt;
};

std::wstring g_modulePath = ModulePath();
HMODULE g_module = nullptr;
// Named events stay open for the life of the process: an event whose last handle closes is gone,
// and a peer that opens it later would get a new, unsignalled one.
std::vector<unique_handle> g_events;
std::map<std::wstring, Tab> g_tabs;
std::string g_panelSeen = "none";

HANDLE Event(const std::wstring& name) {
    g_events.push_back(NamedEvent(name));
    return g_events.back().get();
}

// The module of this process: the one loaded from the module path, else the one COM loaded.
HMODULE Module() { return g_module ? g_module : ::GetModuleHandleW(L"KVShake.dll"); }

// The block that the module's code opens, held by this process from its first use on.
SharedBlock& Block() {
    static const SharedBlockMapping mapping = [] {
        if (!Module()) g_module = ::LoadLibraryW(g_modulePath.c_str());
        const std::wstring sid = CurrentUserSid();
        return SharedBlockMapping::Open(SharedBlockName(sid, Module()), sid);
    }();
    static SharedBlock none{};
    return mapping.Block() ? *mapping.Block() : none;
}

BYTE* BlockAt(long offset) { return reinterpret_cast<BYTE*>(&Block()) + offset; }

// Two processes step through fresh mutex names together; in each round both try to take the
// mutex at once, which makes both find it missing and race to create it.
int Race(Words& words) {  // PREFIX ROUNDS a|b
    const std::wstring prefix = words.Text();
    const int rounds = words.Number();
    const wchar_t role = words.Text()[0];
    const wchar_t other = role == L'a' ? L'b' : L'a';
    unique_handle holders(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(LONG), (prefix + L"-holders").c_str()));
    const unique_view view(::MapViewOfFile(holders.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG)));
    auto* count = static_cast<volatile LONG*>(view.get());
    int result = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::wstring name = prefix + std::to_wstring(round);
        unique_handle mine = NamedEvent(name + L"-ready-" + role);
        unique_handle theirs = NamedEvent(name + L"-ready-" + other);
        ::SetEvent(mine.get());
        if (::WaitForSingleObject(theirs.get(), 60000) != WAIT_OBJECT_0) return 4;
        HANDLE mutex = LockNamedMutex(name.c_str(), kCheckLockWaitMs);
        if (::InterlockedIncrement(count) != 1) result = 3;
        ::Sleep(1);
        ::InterlockedDecrement(count);
        UnlockNamedMutex(mutex);
    }
    return result;
}

// A test function of the control double, once the panel has loaded it; null before.
template <typename Function>
Function ControlDoubleExport(const char* name) {
    const HMODULE module = ::GetModuleHandleW(L"kvshake_control_double.dll");
    return module ? ExportOf<Function>(module, name) : nullptr;
}

// The module's panel among this thread's windows, or null.
HWND FindPanel() {
    HWND window = nullptr;
    while ((window = ::FindWindowExW(nullptr, window, nullptr, L"Win32 API")) != nullptr) {
        wchar_t className[64] = {};
        ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
        if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId() &&
            std::wstring(className).rfind(L"shakewindow", 0) == 0) {
            return window;
        }
    }
    return nullptr;
}

// The module changes a page and the panel only on this thread, while it handles a message.
void Watch() {
    if (g_tabs.empty()) return;
    for (auto& [name, tab] : g_tabs) {
        const std::optional<ElementState> tip =
            tab.page ? tab.page->ElementById(kTipId) : std::nullopt;
        const bool shown = tip && tip->inBody && tip->display != L"none";
        if (shown && !tab.tipShown) {
            tab.tipSince = tab.uploadedAt.value_or(::GetTickCount());
            tab.uploadedAt.reset();
            Say("tip shown %s style %s", Utf8(name).c_str(), Utf8(tip->cssText).c_str());
        } else if (!shown && tab.tipShown) {
            Say("tip hidden %s after %lu ms", Utf8(name).c_str(),
                static_cast<unsigned long>(::GetTickCount() - tab.tipSince));
        }
        tab.tipShown = shown;
    }
    std::string panel = "none";
    if (const HWND window = FindPanel()) {
        RECT rect{};
        ::GetWindowRect(window, &rect);
        const auto location =
            ControlDoubleExport<control_double::LocationFn>("ControlDoubleLocation");
        panel = std::to_string(rect.right - rect.left) + " x " +
                std::to_string(rect.bottom - rect.top) + " " +
                (location ? Utf8(location()) : std::string("(no control)"));
    }
    if (panel != g_panelSeen) Say("panel %s", panel.c_str());
    g_panelSeen = panel;
}

// Handles window messages, as a browser thread does, until `until` is signalled or `done` holds
// (true), or quietMs pass without a message (false).
bool HandleMessages(HANDLE until, DWORD quietMs, const std::function<bool()>& done = nullptr) {
    const DWORD handles = until ? 1 : 0;
    for (;;) {
        Watch();
        if (done && done()) return true;
        const DWORD wait =
            ::MsgWaitForMultipleObjects(handles, &until, FALSE, quietMs, QS_ALLINPUT);
        if (wait != WAIT_OBJECT_0 + handles) return wait == WAIT_OBJECT_0;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

Tab& TabWithBrowser(const std::wstring& name) {
    Tab& tab = g_tabs[name];
    if (!tab.browser) tab.browser = BrowserDouble::Create();
    return tab;
}

void Site(Tab& tab, const ComPtr<IObjectWithSite>& helper) {
    const ComPtr<SiteDouble> site = SiteDouble::Create(tab.browser);
    helper->SetSite(static_cast<IServiceProvider*>(site.Get()));
    tab.helpers.push_back(helper);
}

int Attach(const std::wstring& name) {
    if (!g_module) g_module = ::LoadLibraryW(g_modulePath.c_str());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject = ExportOf<GetClassObject>(g_module, "DllGetClassObject");
    ComPtr<IClassFactory> factory;
    ComPtr<IObjectWithSite> helper;
    if (!getClassObject || FAILED(getClassObject(CLSID_ShakeBHO, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&helper)))) {
        return Fail(5, "no helper object from", g_modulePath);
    }
    Site(TabWithBrowser(name), helper);
    return kContinue;
}

// As the browser loads its helper objects: those the machine's Browser Helper Objects key lists.
int Open(const std::wstring& name) {
    Tab& tab = TabWithBrowser(name);
    tab.browser->BuildWindowTree(kBrowserVersion);
    unique_hkey key;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHelperObjectsKey, 0, KEY_READ, key.put());
    for (DWORD i = 0; key; ++i) {
        wchar_t clsid[64];
        DWORD length = static_cast<DWORD>(std::size(clsid));
        if (::RegEnumKeyExW(key.get(), i, clsid, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        CLSID id;
        ComPtr<IObjectWithSite> helper;
        if (FAILED(::CLSIDFromString(clsid, &id))) continue;
        if (FAILED(::CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&helper)))) {
            return Fail(5, "CoCreateInstance failed for", clsid);
        }
        Say("helper %s %s", Utf8(name).c_str(), Utf8(clsid).c_str());
        Site(tab, helper);
    }
    const ScopedVariant number = tab.browser->Property(kTabNumberProperty);
    Say("opened %s process %lu tab-number %ld helpers %u", Utf8(name).c_str(),
        static_cast<unsigned long>(::GetCurrentProcessId()),
        static_cast<long>(IntegerOf(number.get()).value_or(-1)),
        static_cast<unsigned>(tab.helpers.size()));
    return kContinue;
}

void Detach(const std::wstring& name) {
    Tab& tab = g_tabs[name];
    while (!tab.helpers.empty()) {
        const DWORD start = ::GetTickCount();
        tab.helpers.back()->SetSite(nullptr);
        Say("detached in %lu ms", static_cast<unsigned long>(::GetTickCount() - start));
        tab.helpers.pop_back();
    }
}

int ShowPage(Words& words) {
    const std::wstring name = words.Text(), path = words.Text();
    std::string error;
    const std::optional<PageDescription> description = ReadPageFile(path, &error);
    if (!description) return Fail(6, error.c_str(), path);
    Tab& tab = TabWithBrowser(name);
    tab.page = PageDouble::Create(*description);
    tab.browser->ShowPage(tab.page);
    tab.browser->SetLocationUrl(description->url);
    return kContinue;
}

void Upload(const std::wstring& name) {
    Tab& tab = g_tabs[name];
    const ScopedVariant window = tab.browser->Property(L"HideWindow");
    tab.uploadedAt = ::GetTickCount();
    ::SendMessageW(
        reinterpret_cast<HWND>(static_cast<LONG_PTR>(IntegerOf(window.get()).value_or(0))),
        WM_UP_UPLOAD, 0, 0);
}

// A comctl32 toolbar in a window of its own, as the browser's command bar holds one.
void MakeToolbar(Words& words) {  // X Y WIDTH HEIGHT
    const int x = words.Number(), y = words.Number(), width = words.Number(),
              height = words.Number();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    const HWND frame = ::CreateWindowExW(0, L"STATIC", L"bar", WS_POPUP | WS_VISIBLE, x, y, width,
                                         height, nullptr, nullptr, nullptr, nullptr);
    const HWND toolbar = ::CreateWindowExW(
        0, TOOLBARCLASSNAMEW, nullptr,
        WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0,
        0, width, height, frame, nullptr, nullptr, nullptr);
    ::SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageW(toolbar, TB_SETBUTTONSIZE, 0, MAKELPARAM(100, height));
    for (int i = 0; i < 5; ++i) {
        const TBBUTTON button = {I_IMAGENONE, 100 + i, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0};
        ::SendMessageW(toolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
        RECT rect{};
        ::SendMessageW(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&rect));
        ::MapWindowPoints(toolbar, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        Say("button %d %ld %ld %ld %ld", i, rect.left, rect.top, rect.right, rect.bottom);
    }
}

void MakePanel() {
    RegisterWindowClass(L"shakewindow990");
    SharedBlock& shared = Block();
    shared.g_hwnd =
        ::CreateWindowExW(0, L"shakewindow990", L"panel", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                          200, 200, nullptr, nullptr, ThisModule(), nullptr);
    shared.g_bWindowCreated = true;
}

WNDPROC g_panelProcedure = nullptr;
bool g_inShowPanel = false;

// Between the module's panel procedure and its messages: where the moves and showings come from.
LRESULT CALLBACK WatchedPanelProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const char* where = g_inShowPanel ? "inside" : "outside";
    if (message == WM_WINDOWPOSCHANGED &&
        !(reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_NOMOVE)) {
        Say("panel moved %s WM_SHOW_PANEL", where);
    }
    if (message == WM_SHOWWINDOW && wParam) Say("panel shown %s WM_SHOW_PANEL", where);
    if (message != WM_SHOW_PANEL) {
        return ::CallWindowProcW(g_panelProcedure, window, message, wParam, lParam);
    }
    g_inShowPanel = true;
    const LRESULT result = ::CallWindowProcW(g_panelProcedure, window, message, wParam, lParam);
    g_inShowPanel = false;
    return result;
}

// As after a QR login: the service's bind page at URL loads in a frame of the panel, its window
// named ACCOUNT.
void Login(Words& words) {  // URL ACCOUNT
    const std::wstring url = words.Text(), account = words.Text();
    const auto fire =
        ControlDoubleExport<control_double::FireFrameCompleteFn>("ControlDoubleFireFrameComplete");
    if (fire && FindPanel()) {
        fire(url.c_str(), account.c_str());
    } else if (!control_double::SendFrameComplete(::FindWindowW(nullptr, kOwnPanelTitle), url,
                                                  account)) {
        Say("login none");
        return;
    }
    Say("login sent");
}

int LoadedVersion() {
    wchar_t path[MAX_PATH] = {};
    if (Module()) ::GetModuleFileNameW(Module(), path, MAX_PATH);
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(path, nullptr));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (data.empty() ||
        !::GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &size) ||
        size < sizeof(VS_FIXEDFILEINFO)) {
        return Fail(11, "no module with a version is loaded");
    }
    Say("loaded %s version %u.%u.%u.%u", Utf8(path).c_str(), HIWORD(info->dwFileVersionMS),
        LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
        LOWORD(info->dwFileVersionLS));
    return kContinue;
}

// Standard input, a line at a time, read on a thread of its own so that this thread keeps
// handling messages meanwhile. The thread fills line and signals ready, then reads on once taken
// is signalled; at the end of the input, line is nullopt.
struct InputLine {
    std::optional<std::wstring> line;
    unique_handle ready{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    unique_handle taken{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

DWORD WINAPI ReadLines(void* shared) {
    auto& input = *static_cast<InputLine*>(shared);
    char buffer[4096];
    while (std::fgets(buffer, sizeof(buffer), stdin)) {
        const int size = static_cast<int>(std::strlen(buffer));
        std::wstring line(::MultiByteToWideChar(CP_UTF8, 0, buffer, size, nullptr, 0), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, buffer, size, line.data(), static_cast<int>(line.size()));
        input.line = std::move(line);
        ::SignalObjectAndWait(input.ready.get(), input.taken.get(), INFINITE, FALSE);
    }
    input.line.reset();
    ::SetEvent(input.ready.get());
    return 0;
}

int Run(Words words);

int ReadInput() {
    auto& input = *new InputLine();  // the reading thread may sit in a read to the end
    const unique_handle thread(::CreateThread(nullptr, 0, ReadLines, &input, 0, nullptr));
    while (HandleMessages(input.ready.get(), kInputIdleMs)) {
        const std::optional<std::wstring> line = std::move(input.line);
        ::SetEvent(input.taken.get());
        if (!line) return kContinue;
        std::wistringstream split(*line);
        std::vector<std::wstring> words;
        for (std::wstring word; split >> word;) words.push_back(word);
        const int result = Run(Words(words));
        if (result != kContinue) return result;
        Say("done");
    }
    return Fail(3, "no command for two minutes");
}

// A command returns kContinue, or the exit code that ends the run.
using Command = std::function<int(Words&)>;

Command Continuing(std::function<void(Words&)> action) {
    return [action](Words& words) {
        action(words);
        return kContinue;
    };
}

const std::map<std::wstring, Command>& Commands() {
    static const std::map<std::wstring, Command> commands = {
        {L"input", [](Words&) { return ReadInput(); }},
        {L"module", Continuing([](Words& words) { g_modulePath = words.Text(); })},
        {L"load",
         [](Words&) {
             g_module = ::LoadLibraryW(g_modulePath.c_str());
             return g_module ? kContinue : Fail(2, "cannot load", g_modulePath);
         }},
        {L"unload", Continuing([](Words&) {
             ::FreeLibrary(g_module);
             g_module = nullptr;
         })},
        {L"loaded", [](Words&) { return LoadedVersion(); }},
        {L"poke", Continuing([](Words& words) {
             LONG* value = reinterpret_cast<LONG*>(BlockAt(words.Number()));
             *value = words.Number();
         })},
        {L"peek8", Continuing([](Words& words) { Say("%d", *BlockAt(words.Number())); })},
        {L"peek", Continuing([](Words& words) {
             Say("%ld", static_cast<long>(*reinterpret_cast<LONG*>(BlockAt(words.Number()))));
         })},
        {L"block-zero", Continuing([](Words&) {
             const bool zero = std::all_of(BlockAt(0), BlockAt(sizeof(SharedBlock)),
                                           [](BYTE byte) { return byte == 0; });
             Say(zero ? "zero" : "nonzero");
         })},
        {L"checker", Continuing([](Words&) {
             const SharedBlock& shared = Block();
             if (!shared.g_bHasCheckThread) return Say("checker none");
             Say("checker process %lu tab-number %ld",
                 static_cast<unsigned long>(shared.g_dwCheckProcessId),
                 static_cast<long>(shared.g_nCheckTabNum));
         })},
        {L"lock", Continuing([](Words& words) {
             static_cast<void>(LockNamedMutex(words.Text().c_str(), kCheckLockWaitMs));  // held
         })},
        {L"trylock", Continuing([](Words& words) {
             unique_handle mutex(
                 ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, words.Text().c_str()));
             const DWORD wait = mutex ? ::WaitForSingleObject(mutex.get(), 0) : WAIT_FAILED;
             const bool acquired = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
             Say(!mutex ? "missing" : acquired ? "free" : "busy");
             if (acquired) ::ReleaseMutex(mutex.get());
         })},
        {L"race", Race},
        {L"signal", Continuing([](Words& words) { ::SetEvent(Event(words.Text())); })},
        {L"wait",
         [](Words& words) {
             return ::WaitForSingleObject(Event(words.Text()), 60000) == WAIT_OBJECT_0 ? kContinue
                                                                                       : 4;
         }},
        {L"serve", Continuing([](Words& words) { HandleMessages(Event(words.Text()), 60000); })},
        {L"window",
         [](Words& words) {
             const HWND window = ::CreateWindowExW(0, L"STATIC", words.Text().c_str(), WS_POPUP, 0,
                                                   0, 0, 0, nullptr, nullptr, nullptr, nullptr);
             return window ? kContinue : 8;
         }},
        {L"sleep", Continuing([](Words& words) { ::Sleep(words.Number()); })},
        {L"hang", Continuing([](Words&) { ::Sleep(INFINITE); })},
        {L"log-on", Continuing([](Words&) { EnableLog(true); })},
        {L"log-init", Continuing([](Words&) { InitLogFile(); })},
        {L"log-lines", Continuing([](Words& words) {
             const int count = words.Number();
             const std::string tag = Utf8(words.Text()), filler(200, '=');
             for (int i = 0; i < count; ++i) {
                 WriteLog(StringPrintf("%s line %d %s end", tag.c_str(), i, filler.c_str()));
             }
         })},
        {L"log-writers", Continuing([](Words&) {
             WriteLog("info line");
             WriteError("error line");
             WriteWCharLog("wide line: ", L"text");
         })},
        {L"page", ShowPage},
        {L"attach", [](Words& words) { return Attach(words.Text()); }},
        {L"open", [](Words& words) { return Open(words.Text()); }},
        {L"detach", Continuing([](Words& words) { Detach(words.Text()); })},
        {L"quit", Continuing([](Words& words) { g_tabs[words.Text()].browser->FireQuit(); })},
        {L"state", Continuing([](Words& words) {  // FLAGS MASK; 3 3: the tab comes to the front
             BrowserDouble* browser = g_tabs[words.Text()].browser.Get();
             const DWORD flags = words.Number();
             browser->FireWindowStateChanged(flags, words.Number());
         })},
        {L"prop-bool", Continuing([](Words& words) {
             BrowserDouble* browser = g_tabs[words.Text()].browser.Get();
             browser->SetProperty(words.Text(), ScopedVariant::BoolValue(VARIANT_TRUE).get());
         })},
        {L"upload", Continuing([](Words& words) { Upload(words.Text()); })},
        {L"tip-watch", Continuing([](Words& words) {
             const Tab& tab = g_tabs[words.Text()];
             HandleMessages(nullptr, words.Number(), [&] { return !tab.tipShown; });
         })},
        {L"cursor", Continuing([](Words& words) {
             const int x = words.Number();
             ::SetCursorPos(x, words.Number());
         })},
        {L"exec",
         [](Words& words) {
             const std::wstring name = words.Text();
             ComPtr<IOleCommandTarget> command;
             if (!g_tabs[name].helpers.empty()) g_tabs[name].helpers.back().As(&command);
             return command && command->Exec(nullptr, 0, 0, nullptr, nullptr) == S_OK
                        ? kContinue
                        : Fail(9, "no Exec on", name);
         }},
        {L"toolbar", Continuing(MakeToolbar)},
        {L"make-panel", Continuing([](Words&) { MakePanel(); })},
        {L"watch-panel",
         [](Words&) {
             g_panelProcedure = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
                 Block().g_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedPanelProcedure)));
             return g_panelProcedure ? kContinue : Fail(10, "no panel to watch");
         }},
        {L"login", Continuing(Login)},
        {L"own-panel", Continuing([](Words&) {
             RECT client{};
             const bool found = ::GetClientRect(::FindWindowW(nullptr, kOwnPanelTitle), &client);
             Say(found ? "own-panel %ld x %ld" : "own-panel none", client.right, client.bottom);
         })},
        {L"close-panel",
         [](Words&) {
             return ::PostMessageW(::FindWindowW(nullptr, kOwnPanelTitle), WM_CLOSE, 0, 0)
                        ? kContinue
                        : Fail(12, "no panel window to close");
         }},
    };
    return commands;
}

int Run(Words words) {
    while (!words.Done()) {
        const std::wstring name = words.Text();
        const auto command = Commands().find(name);
        if (command == Commands().end()) return Fail(1, "unknown command", name);
        const int result = command->second(words);
        if (result != kContinue) return result;
    }
    return kContinue;
}

}  // namespace
}  // namespace kvshake::testing

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // readers compare the output with plain "\n" line ends
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = kvshake::testing::Run(kvshake::testing::Words({argv + 1, argv + argc}));
    // Tabs go before the apartment does, as they do when a browser thread ends.
    kvshake::testing::g_tabs.clear();
    ::CoUninitialize();
    return result == kvshake::testing::kContinue ? 0 : result;
}
