// Prints what the module's work costs, each figure beside a floor measured in the same run: the
// bare operation that the work stands on, so that the two read as a ratio on any machine. The
// soak runs (lock cycles, check passes, uploads) must leave the handle count and the memory flat,
// and the uploads no reference on the page, or the program fails; no time makes it fail.
#include <windows.h>

#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bho/hidden_window.h"
#include "browser_double/attached_tab.h"
#include "browser_double/page_double.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"
#include "service/active_state.h"
#include "service/http_transport.h"
#include "service/service_config.h"
#include "support/child_process.h"
#include "support/handle_count.h"
#include "support/log_file.h"
#include "support/message_recorder.h"
#include "support/standin_client.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Microsoft::WRL::ComPtr;

constexpr int kLockPairs = 5000;
constexpr int kExchanges = 50;
constexpr int kMessages = 2000;
constexpr int kTabs = 100;

bool g_failed = false;

void Fail(const char* what) {
    std::printf("FAIL %s\n", what);
    g_failed = true;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Work>
double TimeOf(Work& work) {
    const Clock::time_point start = Clock::now();
    work();
    return SecondsSince(start);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A figure and its floor, in seconds.
struct Measured {
    double figure;
    double floor;
};

// The figure's work and the floor's, in turns, so that a change in the machine's load weighs on
// both alike; the median of each, which a stray slow call (the stand-in's, the system's) does not
// move.
template <typename Figure, typename Floor>
Measured InTurns(int count, Figure&& figure, Floor&& floor) {
    std::vector<double> figures;
    std::vector<double> floors;
    for (int i = 0; i < count; ++i) {
        figures.push_back(TimeOf(figure));
        floors.push_back(TimeOf(floor));
    }
    return {Median(std::move(figures)), Median(std::move(floors))};
}

// Three significant digits in the unit that suits the duration.
std::string Duration(double seconds) {
    static const char* const kUnits[] = {"ns", "us", "ms", "s"};
    double value = seconds * 1e9;
    size_t unit = 0;
    for (; value >= 1000 && unit + 1 < std::size(kUnits); ++unit) value /= 1000;
    return StringPrintf("%.3g %s", value, kUnits[unit]);
}

enum class Compare { Ratio, Excess };

// One line: the figure, its floor, and the figure as a multiple of the floor (Ratio) or as what
// it adds to the floor (Excess).
void Report(const char* figure, const char* floor, Measured measured,
            Compare compare = Compare::Ratio, const char* note = "") {
    const double excess = measured.figure - measured.floor;
    const std::string comparison = compare == Compare::Ratio
                                       ? StringPrintf("x%.3g", measured.figure / measured.floor)
                                       : (excess < 0 ? "-" : "+") + Duration(std::abs(excess));
    std::printf("%-46s %9s   %-38s %9s   %s%s\n", figure, Duration(measured.figure).c_str(),
                (std::string("floor (") + floor + ")").c_str(), Duration(measured.floor).c_str(),
                comparison.c_str(), note);
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PrivateUsage;
}

// The handle count and the private bytes at the start of a soak run. Report fails the run when
// they grew more than allowed, or when the handle table cannot be read.
class SoakStart {
  public:
    SoakStart() : handles_(HandleCountOfThisProcess()), bytes_(PrivateBytes()) {}

    void Report(const std::string& run, DWORD allowedHandles, SIZE_T allowedBytes) const {
        const std::optional<DWORD> handles = HandleCountOfThisProcess();
        if (!handles_ || !handles) {
            Fail((run + ": the system's handle table cannot be read").c_str());
            return;
        }
        const long grownHandles = static_cast<long>(*handles) - static_cast<long>(*handles_);
        const long long grownBytes =
            static_cast<long long>(PrivateBytes()) - static_cast<long long>(bytes_);
        const bool failed = grownHandles > static_cast<long>(allowedHandles) ||
                            grownBytes > static_cast<long long>(allowedBytes);
        std::printf("%s %s: handles %+ld, private bytes %+lld\n", failed ? "FAIL" : "ok  ",
                    run.c_str(), grownHandles, grownBytes);
        g_failed = g_failed || failed;
    }

  private:
    std::optional<DWORD> handles_;
    SIZE_T bytes_;
};

// The floors: bare operations that the module's work stands on, each a call.

// SendMessage of WM_NULL, which a window procedure leaves to the default, to a window of the
// helper program, whose thread handles its messages as a browser thread does.
class BareSendMessage {
  public:
    BareSendMessage()
        : stop_(NamedEvent(stopName_)),
          host_(L"window " + title_ + L" signal " + readyName_ + L" serve " + stopName_) {
        if (WaitForNamedEvent(readyName_)) window_ = ::FindWindowW(L"STATIC", title_.c_str());
        if (!window_) Fail("the helper program's window did not come");
    }
    ~BareSendMessage() {
        ::SetEvent(stop_.get());
        host_.Wait();
    }

    void operator()() const { ::SendMessageW(window_, WM_NULL, 0, 0); }

  private:
    const std::wstring title_ = UniqueName(L"floor-window");
    const std::wstring readyName_ = UniqueName(L"floor-ready");
    const std::wstring stopName_ = UniqueName(L"floor-stop");
    const unique_handle stop_;
    TestHost host_;
    HWND window_ = nullptr;
};

using InternetHandle = std::unique_ptr<void, decltype(&::InternetCloseHandle)>;

InternetHandle Internet(HINTERNET handle) { return InternetHandle(handle, ::InternetCloseHandle); }

// A GET of an empty answer over raw WinINet: a session, a connection and a request opened, the
// request sent, the answer read. The stand-in closes every connection after its answer, so every
// exchange has its own TLS handshake, and a session kept open would gain nothing.
class BareHttpsExchange {
  public:
    BareHttpsExchange() { (*this)(); }  // the first exchange also loads the TLS stack
    ~BareHttpsExchange() {
        if (failed_) Fail("a bare HTTPS exchange with the stand-in failed");
    }
    BareHttpsExchange(const BareHttpsExchange&) = delete;
    BareHttpsExchange& operator=(const BareHttpsExchange&) = delete;

    void operator()() {
        const InternetHandle root =
            Internet(::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        const InternetHandle connection = Internet(::InternetConnectW(
            root.get(), kServiceHost, kServicePort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
        const InternetHandle request = Internet(::HttpOpenRequestW(
            connection.get(), L"GET", L"/floor", nullptr, nullptr, nullptr,
            INTERNET_FLAG_SECURE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
        char byte = 0;
        DWORD read = 0;
        failed_ = failed_ || !request ||
                  !::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0) ||
                  !::InternetReadFile(request.get(), &byte, 1, &read);
    }

  private:
    bool failed_ = false;
};

// A hidden top-level window of a class of its own, as every new tab makes one: the class
// registered, the window made with every style bit but WS_VISIBLE. The windows stay as long as
// this object, as the tabs' windows do.
class BareHiddenWindow {
  public:
    BareHiddenWindow() = default;
    ~BareHiddenWindow() {
        windows_.clear();
        for (const std::wstring& name : classes_) ::UnregisterClassW(name.c_str(), instance_);
    }
    BareHiddenWindow(const BareHiddenWindow&) = delete;
    BareHiddenWindow& operator=(const BareHiddenWindow&) = delete;

    void operator()() {
        classes_.push_back(UniqueName(L"floor-class"));
        RegisterWindowClass(classes_.back().c_str());
        windows_.emplace_back(::CreateWindowExW(0, classes_.back().c_str(), L"",
                                                ~static_cast<DWORD>(WS_VISIBLE), 100, 100, 700, 500,
                                                nullptr, nullptr, instance_, nullptr));
        if (!windows_.back()) Fail("a bare hidden window could not be made");
    }

  private:
    const HINSTANCE instance_ = ThisModule();
    std::vector<std::wstring> classes_;
    std::vector<unique_window> windows_;
};

void BenchFoundations() {
    const std::wstring name = UniqueName(L"bench");
    HANDLE sharedHandle = nullptr;
    // CreateMutex, wait, release and close on a named mutex that no other handle keeps alive:
    // what LockNamedMutex and UnlockNamedMutex wrap.
    const std::wstring floorName = UniqueName(L"floor");
    const auto mutexPair = [&] {
        const unique_handle mutex(::CreateMutexW(nullptr, FALSE, floorName.c_str()));
        ::WaitForSingleObject(mutex.get(), INFINITE);
        ::ReleaseMutex(mutex.get());
    };
    const auto lockPair = [&] { ScopedNamedMutex lock(name.c_str(), sharedHandle); };
    const Measured lock = InTurns(kLockPairs, lockPair, mutexPair);
    Report("lock/unlock pair, ScopedNamedMutex", "named-mutex pair", lock);

    // A line written takes "mutexForWrite" and opens the log file; with the log off, nothing. A
    // line with the log off is too quick to time alone: the mean of many.
    const auto line = [] { WriteLog("check start"); };
    EnableLog(false);
    constexpr int kLinesOff = 200000;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kLinesOff; ++i) line();
    Report("log line, log off", "named-mutex pair", {SecondsSince(start) / kLinesOff, lock.floor});
    EnableLog(true);
    DeleteLogFile();
    Report("log line, log on", "named-mutex pair", InTurns(2000, line, mutexPair));
    EnableLog(false);
    DeleteLogFile();

    standin::Reset();
    BareHttpsExchange https;
    const auto getData = [] { GetData(kServiceHost, L"/floor"); };
    Report("GET round trip, GetData", "HTTPS round trip, raw WinINet",
           InTurns(kExchanges, getData, https));
}

// Tabs of this process, set up as the in-process tab tests have them: an apartment, the
// program's own shared block standing for a machine run that has begun, a fresh stand-in.
class TabEnvironment {
  public:
    TabEnvironment() {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        standin::Reset();
        SharedState() = SharedBlock{};
        SharedState().g_bInited = true;
    }
    ~TabEnvironment() {
        standin::Reset();
        SharedState() = SharedBlock{};
        ::CoUninitialize();
    }
    TabEnvironment(const TabEnvironment&) = delete;
    TabEnvironment& operator=(const TabEnvironment&) = delete;
};

// A tab that quits before its helper object detaches, as a closed tab does: its hidden window and
// the window's class go with it, free for a later tab of the same number (a fresh shared block
// numbers tabs from 0 again).
class ClosingTab : public AttachedTab {
  public:
    using AttachedTab::AttachedTab;
    ~ClosingTab() { Browser()->FireQuit(); }
};

// A new tab: the helper object made and sited on a browser double, inactive. Its floor is the
// hidden window that every new tab makes, which costs far more than the rest of an attach: the
// named-mutex pair ("mutexForActive", taken once) and the in-process COM calls (the event sink,
// the browser's properties). An attach sends no message to another process.
void BenchAttach() {
    const TabEnvironment environment;
    std::vector<ComPtr<BrowserDouble>> browsers(kTabs);
    for (ComPtr<BrowserDouble>& browser : browsers) browser = BrowserDouble::Create();
    BareHiddenWindow window;
    std::deque<ClosingTab> tabs;
    size_t next = 0;
    const auto attach = [&] { tabs.emplace_back(browsers[next++]); };
    Report("attach, per tab of 100", "hidden window, own class", InTurns(kTabs, attach, window));
}

// The checker of this process against a stand-in that answers at once. A check pass is an
// exchange under two named mutexes; a shake's answer reaches the tab in front as one message.
// Beside a running checker an exchange would not be bare: the floors are taken before the
// checker starts and after it has stopped.
void BenchCheckLoop() {
    const TabEnvironment environment;
    BareHttpsExchange https;
    const BareSendMessage message;
    std::vector<double> exchanges;
    std::vector<double> messages;
    const auto takeFloors = [&] {
        for (int i = 0; i < kExchanges; ++i) exchanges.push_back(TimeOf(https));
        for (int i = 0; i < kMessages; ++i) messages.push_back(TimeOf(message));
    };
    takeFloors();
    double passSeconds = 0;
    double shakeSeconds = 0;
    {
        standin::SetDefault(
            R"({"match":"shakecheck","body":"{\"ret\":\"0\",\"shake_status\":\"0\"}"})");
        ClosingTab tab;
        MessageRecorder front;
        SetActive(true);
        tab.Bho().activate();
        SharedState().g_HideWindowHwnd = front.Window();  // the activating tab came to the front
        WaitUntil([] { return standin::RequestCount() >= 1000; }, 120000);

        const SoakStart soak;
        const Clock::time_point start = Clock::now();
        const size_t first = standin::RequestCount();
        if (!WaitUntil([&] { return standin::RequestCount() >= first + 10000; }, 600000)) {
            Fail("fewer than 10000 check passes in ten minutes");
        }
        passSeconds = SecondsSince(start) / (standin::RequestCount() - first);
        soak.Report("10000 check passes", kNetworkHandleSlack, 4 * 1024 * 1024);

        constexpr int kShakes = 20;
        const Clock::time_point shakesStart = Clock::now();
        for (int i = 0; i < kShakes; ++i) {
            standin::Script(
                R"([{"match":"shakecheck","body":"{\"ret\":\"0\",\"shake_status\":\"1\"}"}])");
            const size_t uploads = i + 1;
            if (!WaitUntil([&] { return front.Count(WM_UP_UPLOAD) >= uploads; }, 30000)) {
                Fail("a shake reached no tab in front");
                break;
            }
        }
        shakeSeconds = SecondsSince(shakesStart) / kShakes;
        SetActive(false);
    }
    standin::Reset();
    takeFloors();
    const double exchange = Median(exchanges);
    Report("check pass", "HTTPS round trip, raw WinINet", {passSeconds, exchange});
    Report("shake answer to WM_UP_UPLOAD, check in flight", "HTTPS round trip + SendMessage",
           {shakeSeconds, exchange + Median(messages)});
}

constexpr int kPageElements = 10000;
constexpr int kPageFrames = 3;

// One document of the upload page, with its share of the page's elements: one in ten an image
// of 240 by 180 pixels, one in a hundred a block with an inline background picture.
PageDescription UploadDocument(int number, bool withElements) {
    PageDescription document;
    document.title = L"Gallery " + std::to_wstring(number);
    document.url = L"http://pages.test/gallery/" + std::to_wstring(number);
    if (!withElements) return document;
    document.elements.resize(kPageElements / (kPageFrames + 1));
    for (size_t i = 0; i < document.elements.size(); ++i) {
        PageElement& element = document.elements[i];
        const std::wstring name = std::to_wstring(number) + L"-" + std::to_wstring(i);
        if (i % 10 == 0) {
            element.tag = L"img";
            element.src = L"http://pictures.test/photos/" + name + L".jpg";
            element.width = 240;
            element.height = 180;
        } else if (i % 100 == 1) {
            element.backgroundImage =
                L"url(\"http://pictures.test/backgrounds/" + name + L".png\")";
        }
    }
    return document;
}

// A document and three frames that hold 10,000 elements between them, 1,000 of them images
// larger than 100 by 100 and 100 with inline background pictures. Without elements it is the
// floor of the upload: the same titles, addresses and frames with nothing to scan, which leaves
// the exchange with the service and the tip.
PageDescription UploadPage(bool withElements) {
    PageDescription page = UploadDocument(0, withElements);
    for (int frame = 1; frame <= kPageFrames; ++frame) {
        page.frames.push_back(UploadDocument(frame, withElements));
    }
    return page;
}

// WM_UP_UPLOAD to the tab's hidden window, which handles it at once on this thread: the page's
// scans, the tip, and the upload's POST until it is answered.
void Upload(AttachedTab& tab, const std::shared_ptr<PageDouble>& page) {
    tab.Browser()->ShowPage(page);
    ::SendMessageW(tab.Bho().HiddenWindow(), WM_UP_UPLOAD, 0, 0);
}

size_t PicturesInLastUpload() {
    const std::vector<RecordedRequest> uploads = standin::RequestsTo("shakeupload");
    return uploads.empty() ? 0 : CountOccurrences(uploads.back().Body(), "&url=");
}

// Ten thousand uploads of the page must leave the handle count and the memory flat. The stand-in
// forgets its requests after every thousand, which must all be there.
void SoakUploads(AttachedTab& tab, const std::shared_ptr<PageDouble>& page) {
    constexpr int kUploads = 10000;
    constexpr int kBatch = 1000;
    standin::Reset();
    const SoakStart soak;
    const Clock::time_point start = Clock::now();
    size_t arrived = 0;
    for (int batch = 0; batch < kUploads / kBatch; ++batch) {
        for (int i = 0; i < kBatch; ++i) Upload(tab, page);
        arrived += standin::RequestCount();
        standin::Reset();
    }
    const double seconds = SecondsSince(start);
    if (arrived != kUploads) Fail("an upload of the soak run did not reach the stand-in");
    soak.Report(StringPrintf("%d uploads of that page, %.0f s (%s each)", kUploads, seconds,
                             Duration(seconds / kUploads).c_str()),
                kNetworkHandleSlack, 4 * 1024 * 1024);
}

void BenchUpload() {
    constexpr int kTimedUploads = 100;
    const TabEnvironment environment;
    ClearAccount();
    WriteReg(kUinValue, L"10001");
    WriteReg(kSidValue, L"s-1");
    SharedState().g_nIEVersion = 9;
    ClosingTab tab;
    const ULONG browserReferences = tab.Browser()->References();
    const std::shared_ptr<PageDouble> full = PageDouble::Create(UploadPage(true));
    const std::shared_ptr<PageDouble> bare = PageDouble::Create(UploadPage(false));
    const auto uploadFull = [&] { Upload(tab, full); };
    const auto uploadBare = [&] { Upload(tab, bare); };
    // The first upload of a page puts the tip in; later ones find it there.
    uploadFull();
    uploadBare();
    const Measured upload = InTurns(kTimedUploads, uploadFull, uploadBare);
    if (PicturesInLastUpload() != 0) Fail("the upload of the page without pictures carried some");
    Upload(tab, full);
    if (PicturesInLastUpload() != 1100) Fail("the upload did not carry the page's pictures");
    Report("upload, 1000 images/10000 elements/3 frames", "same page, no pictures", upload,
           Compare::Excess, "   (goal: under +20 ms)");

    SoakUploads(tab, full);
    if (full->ReferencesHeld() != 0 || tab.Browser()->References() != browserReferences) {
        Fail("the uploads left references on the page or the browser behind");
    }
    ClearAccount();
}

void SoakLockCycles() {
    const std::wstring name = UniqueName(L"soak");
    HANDLE sharedHandle = nullptr;
    { ScopedNamedMutex warmUp(name.c_str(), sharedHandle); }
    const SoakStart soak;
    for (int i = 0; i < 50000; ++i) {
        ScopedNamedMutex lock(name.c_str(), sharedHandle);
    }
    for (int i = 0; i < 50000; ++i)
        UnlockNamedMutex(LockNamedMutex(name.c_str(), kCheckLockWaitMs));
    soak.Report("100000 lock cycles", 0, 1024 * 1024);
}

void Run() {
    const Clock::time_point start = Clock::now();
    std::printf(
        "each figure beside its floor, the two measured in turns or one around the other\n");
    BenchFoundations();
    BenchAttach();
    BenchCheckLoop();
    BenchUpload();
    SoakLockCycles();
    std::printf("whole run: %.0f s\n", SecondsSince(start));
}

}  // namespace
}  // namespace kvshake::testing

int main() {
    kvshake::testing::Run();
    return kvshake::testing::g_failed ? 1 : 0;
}
