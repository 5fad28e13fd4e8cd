// kvshake_testhost.exe: a process of its own for what tests must show across processes. It runs
// the commands of its command line in order and prints what they report:
//   module PATH                         the module that later commands load (at first
//                                       KVShake.dll beside this program)
//   load | unload                       load or free the module
//   poke OFFSET VALUE | peek OFFSET     a 32-bit value at OFFSET in the module's machine run
//   peek8 OFFSET                        one byte (a flag) at OFFSET
//   block-zero                          prints "zero" when the whole block is zero, else "nonzero"
//   lock NAME                           LockNamedMutex, held for the life of the process
//   trylock NAME                        prints "free", "busy" or "missing" (never blocks)
//   race PREFIX ROUNDS ROLE             locks PREFIX<n> in step with the other ROLE (a or b);
//                                       exits 3 if both processes ever owned one mutex together
//   signal EVENT | wait EVENT           named manual-reset events
//   serve EVENT                         handles window messages until EVENT is signalled
//   window TITLE                        a hidden static control (class STATIC) titled TITLE, for
//                                       other processes to send messages to; exits 8 when it
//                                       cannot be made
//   sleep MS | hang
//   log-on                              switches this process's log on
//   log-lines COUNT TAG                 COUNT lines of WriteLog with a long text naming TAG
//   log-writers                         one call of every writer (the log switch as it stands)
//   log-init                            InitLogFile
// Tabs: a tab is a browser double named TAB, with the helper objects attached to it.
//   attach TAB                          a new helper object from the module, sited on TAB's browser
//   detach TAB                          detaches and releases TAB's newest helper object; prints
//                                       "detached in N ms"
//   quit TAB                            fires DISPID_ONQUIT, as a closing tab does
//   state TAB FLAGS MASK                fires DISPID_WINDOWSTATECHANGED
//   prop-bool TAB NAME                  puts a browser property that is true
//   page TAB FILE                       TAB's browser shows the page described in FILE (see
//                                       ReadPageFile); exits 6 with a message when unreadable
//   upload TAB                          sends WM_UP_UPLOAD to TAB's hidden window, as a shake does
//   tip-watch TAB MS                    handles messages until the tip in TAB's page is hidden,
//                                       then prints "tip hidden after N ms" (counted from the
//                                       last upload), or "tip not hidden" after MS
//   toolbar X Y WIDTH HEIGHT            a visible toolbar of five 100-pixel buttons at (X, Y);
//                                       prints "button I LEFT TOP RIGHT BOTTOM" (screen) for each
//   exec TAB                            presses the toolbar button: Exec on TAB's newest helper
//   make-panel                          a visible window of a panel's class ("shakewindow"
//                                       and a number) that becomes the module's panel (g_hwnd,
//                                       g_bWindowCreated)
//   watch-panel                         prints "panel moved|shown inside|outside WM_SHOW_PANEL"
//                                       whenever the module's panel (g_hwnd, of this thread) is
//                                       moved or shown, inside its handling of that message or
//                                       not; exits 10 when there is no panel to watch
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <ocidl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KVShake_h.h"
#include "bho/hidden_window.h"
#include "browser_double/browser_double.h"
#include "browser_double/site_double.h"
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

struct Tab {
    ComPtr<BrowserDouble> browser;
    std::vector<ComPtr<IObjectWithSite>> helpers;
    std::shared_ptr<PageDouble> page;
};

std::wstring g_modulePath = ModulePath();
HMODULE g_module = nullptr;
// Named events stay open for the life of the process: an event whose last handle closes is gone,
// and a peer that opens it later would get a new, unsignalled one.
std::vector<unique_handle> g_events;
std::map<std::wstring, Tab> g_tabs;
HWND g_panel = nullptr;

HANDLE Event(const std::wstring& name) {
    g_events.push_back(NamedEvent(name));
    return g_events.back().get();
}

// The block that the module's code opens, held by this process from its first use on.
SharedBlock& Block() {
    static const SharedBlockMapping mapping = [] {
        if (!g_module) g_module = ::LoadLibraryW(g_modulePath.c_str());
        const std::wstring sid = CurrentUserSid();
        return SharedBlockMapping::Open(SharedBlockName(sid, g_module), sid);
    }();
    static SharedBlock none{};
    return mapping.Block() ? *mapping.Block() : none;
}

BYTE* BlockAt(long offset) { return reinterpret_cast<BYTE*>(&Block()) + offset; }

bool BlockIsZero() {
    const BYTE* block = BlockAt(0);
    for (size_t i = 0; i < sizeof(SharedBlock); ++i) {
        if (block[i] != 0) return false;
    }
    return true;
}

// Two processes step through fresh mutex names together; in each round both try to take the
// mutex at once, which makes both find it missing and race to create it.
int Race(const std::wstring& prefix, int rounds, wchar_t role) {
    const wchar_t other = role == L'a' ? L'b' : L'a';
    unique_handle holders(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(LONG), (prefix + L"-holders").c_str()));
    auto* count = static_cast<volatile LONG*>(
        ::MapViewOfFile(holders.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG)));
    int result = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::wstring name = prefix + std::to_wstring(round);
        unique_handle mine = NamedEvent(name + L"-ready-" + role);
        unique_handle theirs = NamedEvent(name + L"-ready-" + other);
        ::SetEvent(mine.get());
        ::WaitForSingleObject(theirs.get(), INFINITE);
        HANDLE mutex = LockNamedMutex(name.c_str(), kCheckLockWaitMs);
        if (::InterlockedIncrement(count) != 1) result = 3;
        ::Sleep(1);
        ::InterlockedDecrement(count);
        UnlockNamedMutex(mutex);
    }
    ::UnmapViewOfFile(const_cast<LONG*>(count));
    return result;
}

void LogLines(int count, const std::wstring& tag) {
    const std::string narrowTag = WideToAnsi(tag.c_str()).value_or("");
    const std::string filler(200, '=');
    for (int i = 0; i < count; ++i) {
        WriteLog(StringPrintf("%s line %d %s end", narrowTag.c_str(), i, filler.c_str()));
    }
}

// Handles messages, as a browser thread does, until the event is signalled.
void Serve(HANDLE until) {
    for (;;) {
        const DWORD wait = ::MsgWaitForMultipleObjects(1, &until, FALSE, 60000, QS_ALLINPUT);
        if (wait != WAIT_OBJECT_0 + 1) return;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

// The tab, with a browser made for it when it has none yet.
Tab& TabWithBrowser(const std::wstring& name) {
    Tab& tab = g_tabs[name];
    if (!tab.browser) tab.browser = BrowserDouble::Create();
    return tab;
}

int Attach(const std::wstring& name) {
    if (!g_module) g_module = ::LoadLibraryW(g_modulePath.c_str());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject = ExportOf<GetClassObject>(g_module, "DllGetClassObject");
    ComPtr<IClassFactory> factory;
    ComPtr<IObjectWithSite> helper;
    if (!getClassObject || FAILED(getClassObject(CLSID_ShakeBHO, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&helper)))) {
        return 5;
    }
    Tab& tab = TabWithBrowser(name);
    const ComPtr<SiteDouble> site = SiteDouble::Create(tab.browser);
    helper->SetSite(static_cast<IServiceProvider*>(site.Get()));
    tab.helpers.push_back(helper);
    return kContinue;
}

void Detach(const std::wstring& name) {
    Tab& tab = g_tabs[name];
    if (tab.helpers.empty()) return;
    const auto start = std::chrono::steady_clock::now();
    tab.helpers.back()->SetSite(nullptr);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    tab.helpers.pop_back();
    std::printf(
        "detached in %ld ms\n",
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

int ShowPage(const std::wstring& name, const std::wstring& path) {
    std::string error;
    const std::optional<PageDescription> description = ReadPageFile(path, &error);
    if (!description) {
        std::fprintf(stderr, "page: %s\n", error.c_str());
        return 6;
    }
    Tab& tab = TabWithBrowser(name);
    tab.page = PageDouble::Create(*description);
    tab.browser->ShowPage(tab.page);
    return kContinue;
}

DWORD g_lastUpload = 0;

void Upload(const std::wstring& name) {
    const ScopedVariant window = g_tabs[name].browser->Property(L"HideWindow");
    g_lastUpload = ::GetTickCount();
    ::SendMessageW(
        reinterpret_cast<HWND>(static_cast<LONG_PTR>(IntegerOf(window.get()).value_or(0))),
        WM_USER + 8, 0, 0);
}

bool TipHidden(const Tab& tab) {
    const std::optional<ElementState> tip =
        tab.page ? tab.page->ElementById(L"kovinShakeContainer") : std::nullopt;
    return tip && tip->display == L"none";
}

void WatchTip(const std::wstring& name, DWORD limitMs) {
    const DWORD start = ::GetTickCount();
    while (!TipHidden(g_tabs[name]) && ::GetTickCount() - start < limitMs) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    if (TipHidden(g_tabs[name])) {
        std::printf("tip hidden after %lu ms\n",
                    static_cast<unsigned long>(::GetTickCount() - g_lastUpload));
    } else {
        std::printf("tip not hidden\n");
    }
}

// A comctl32 toolbar in a window of its own, as the browser's command bar holds one.
void MakeToolbar(int x, int y, int width, int height) {
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
    TBBUTTON buttons[5] = {};
    for (int i = 0; i < 5; ++i) {
        buttons[i] = {I_IMAGENONE, 100 + i, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0};
    }
    ::SendMessageW(toolbar, TB_ADDBUTTONSW, 5, reinterpret_cast<LPARAM>(buttons));
    for (int i = 0; i < 5; ++i) {
        RECT rect{};
        ::SendMessageW(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&rect));
        ::MapWindowPoints(toolbar, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        std::printf("button %d %ld %ld %ld %ld\n", i, rect.left, rect.top, rect.right, rect.bottom);
    }
}

void MakePanel() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"shakewindow990";
    ::RegisterClassW(&windowClass);
    g_panel = ::CreateWindowExW(0, L"shakewindow990", L"panel", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 200, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    SharedBlock& shared = Block();
    shared.g_hwnd = g_panel;
    shared.g_bWindowCreated = true;
}

WNDPROC g_panelProcedure = nullptr;
bool g_inShowPanel = false;

// Between the module's panel procedure and its messages: where the moves and showings come from.
LRESULT CALLBACK WatchedPanelProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const char* where = g_inShowPanel ? "inside" : "outside";
    if (message == WM_WINDOWPOSCHANGED &&
        !(reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_NOMOVE)) {
        std::printf("panel moved %s WM_SHOW_PANEL\n", where);
    }
    if (message == WM_SHOWWINDOW && wParam) std::printf("panel shown %s WM_SHOW_PANEL\n", where);
    if (message != WM_SHOW_PANEL) {
        return ::CallWindowProcW(g_panelProcedure, window, message, wParam, lParam);
    }
    g_inShowPanel = true;
    const LRESULT result = ::CallWindowProcW(g_panelProcedure, window, message, wParam, lParam);
    g_inShowPanel = false;
    return result;
}

// A command returns kContinue, or the exit code that ends the run.
using Command = std::function<int(Words&)>;

const std::map<std::wstring, Command>& Commands() {
    static const std::map<std::wstring, Command> commands = {
        {L"module",
         [](Words& words) {
             g_modulePath = words.Text();
             return kContinue;
         }},
        {L"load",
         [](Words&) {
             g_module = ::LoadLibraryW(g_modulePath.c_str());
             return g_module ? kContinue : 2;
         }},
        {L"unload",
         [](Words&) {
             ::FreeLibrary(g_module);
             g_module = nullptr;
             return kContinue;
         }},
        {L"poke",
         [](Words& words) {
             LONG* value = reinterpret_cast<LONG*>(BlockAt(words.Number()));
             *value = words.Number();
             return kContinue;
         }},
        {L"peek8",
         [](Words& words) {
             std::printf("%d\n", static_cast<int>(*BlockAt(words.Number())));
             return kContinue;
         }},
        {L"peek",
         [](Words& words) {
             std::printf("%ld\n",
                         static_cast<long>(*reinterpret_cast<LONG*>(BlockAt(words.Number()))));
             return kContinue;
         }},
        {L"block-zero",
         [](Words&) {
             std::printf("%s\n", BlockIsZero() ? "zero" : "nonzero");
             return kContinue;
         }},
        {L"lock",
         [](Words& words) {
             static_cast<void>(LockNamedMutex(words.Text().c_str(), kCheckLockWaitMs));  // held
             return kContinue;
         }},
        {L"trylock",
         [](Words& words) {
             unique_handle mutex(
                 ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, words.Text().c_str()));
             const DWORD wait = mutex ? ::WaitForSingleObject(mutex.get(), 0) : WAIT_FAILED;
             const bool acquired = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
             std::printf("%s\n", !mutex ? "missing" : acquired ? "free" : "busy");
             if (acquired) ::ReleaseMutex(mutex.get());
             return kContinue;
         }},
        {L"race",
         [](Words& words) {
             const std::wstring prefix = words.Text();
             const int rounds = words.Number();
             return Race(prefix, rounds, words.Text()[0]);
         }},
        {L"signal",
         [](Words& words) {
             ::SetEvent(Event(words.Text()));
             return kContinue;
         }},
        {L"wait",
         [](Words& words) {
             return ::WaitForSingleObject(Event(words.Text()), 60000) == WAIT_OBJECT_0 ? kContinue
                                                                                       : 4;
         }},
        {L"serve",
         [](Words& words) {
             Serve(Event(words.Text()));
             return kContinue;
         }},
        {L"window",
         [](Words& words) {
             const HWND window = ::CreateWindowExW(0, L"STATIC", words.Text().c_str(), WS_POPUP, 0,
                                                   0, 0, 0, nullptr, nullptr, nullptr, nullptr);
             return window ? kContinue : 8;
         }},
        {L"sleep",
         [](Words& words) {
             ::Sleep(words.Number());
             return kContinue;
         }},
        {L"hang",
         [](Words&) {
             ::Sleep(INFINITE);
             return kContinue;
         }},
        {L"log-on",
         [](Words&) {
             EnableLog(true);
             return kContinue;
         }},
        {L"log-lines",
         [](Words& words) {
             const int count = words.Number();
             LogLines(count, words.Text());
             return kContinue;
         }},
        {L"log-writers",
         [](Words&) {
             WriteLog("info line");
             WriteError("error line");
             WriteWCharLog("wide line: ", L"text");
             return kContinue;
         }},
        {L"log-init",
         [](Words&) {
             InitLogFile();
             return kContinue;
         }},
        {L"attach", [](Words& words) { return Attach(words.Text()); }},
        {L"detach",
         [](Words& words) {
             Detach(words.Text());
             return kContinue;
         }},
        {L"quit",
         [](Words& words) {
             g_tabs[words.Text()].browser->FireQuit();
             return kContinue;
         }},
        {L"state",
         [](Words& words) {
             BrowserDouble* browser = g_tabs[words.Text()].browser.Get();
             const DWORD flags = words.Number();
             browser->FireWindowStateChanged(flags, words.Number());
             return kContinue;
         }},
        {L"prop-bool",
         [](Words& words) {
             BrowserDouble* browser = g_tabs[words.Text()].browser.Get();
             browser->SetProperty(words.Text(), ScopedVariant::BoolValue(VARIANT_TRUE).get());
             return kContinue;
         }},
        {L"page",
         [](Words& words) {
             const std::wstring name = words.Text();
             return ShowPage(name, words.Text());
         }},
        {L"upload",
         [](Words& words) {
             Upload(words.Text());
             return kContinue;
         }},
        {L"tip-watch",
         [](Words& words) {
             const std::wstring name = words.Text();
             WatchTip(name, static_cast<DWORD>(words.Number()));
             return kContinue;
         }},
        {L"exec",
         [](Words& words) {
             ComPtr<IOleCommandTarget> command;
             g_tabs[words.Text()].helpers.back().As(&command);
             return command && command->Exec(nullptr, 0, 0, nullptr, nullptr) == S_OK ? kContinue
                                                                                      : 9;
         }},
        {L"toolbar",
         [](Words& words) {
             const int x = words.Number(), y = words.Number(), width = words.Number();
             MakeToolbar(x, y, width, words.Number());
             return kContinue;
         }},
        {L"make-panel",
         [](Words&) {
             MakePanel();
             return kContinue;
         }},
        {L"watch-panel",
         [](Words&) {
             const HWND panel = reinterpret_cast<SharedBlock*>(BlockAt(0))->g_hwnd;
             g_panelProcedure = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
                 panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedPanelProcedure)));
             return g_panelProcedure ? kContinue : 10;
         }},
    };
    return commands;
}

int Run(Words words) {
    while (!words.Done()) {
        const std::wstring name = words.Text();
        const auto command = Commands().find(name);
        if (command == Commands().end()) {
            std::fprintf(stderr, "unknown command\n");
            return 1;
        }
        const int result = command->second(words);
        std::fflush(stdout);
        if (result != kContinue) return result;
    }
    return 0;
}

}  // namespace
}  // namespace kvshake::testing

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // tests compare the output with plain "\n" line ends
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = kvshake::testing::Run(kvshake::testing::Words({argv + 1, argv + argc}));
    // Tabs go before the apartment does, as they do when a browser thread ends.
    kvshake::testing::g_tabs.clear();
    ::CoUninitialize();
    return result;
}
