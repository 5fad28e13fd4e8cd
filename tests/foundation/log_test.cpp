#include "foundation/log.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "foundation/named_mutex.h"
#include "foundation/text.h"
#include "foundation/unique_resource.h"
#include "support/child_process.h"
#include "support/log_file.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

SYSTEMTIME g_fixedTime;
void WINAPI FixedClock(LPSYSTEMTIME time) { *time = g_fixedTime; }

void SetClock(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms) {
    g_fixedTime = SYSTEMTIME{year, month, 0, day, hour, minute, second, ms};
    SetLogClockForTesting(FixedClock);
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteLogFile();
        EnableLog(true);
        SetClock(2026, 12, 6, 14, 3, 9, 45);
    }
    void TearDown() override {
        SetLogClockForTesting(nullptr);
        EnableLog(false);
        DeleteLogFile();
    }
};

// InitLogFile starts anew; lines append byte for byte; wide text goes in the system code page.
TEST_F(LogTest, HeaderAndLinesAreWrittenByteForByte) {
    ASSERT_EQ(::GetACP(), 1252u) << "run under a Western European locale";
    WriteLog("from an earlier run");
    SetClock(2026, 3, 3, 9, 5, 7, 0);
    InitLogFile();
    SetClock(2031, 11, 25, 23, 59, 58, 999);
    WriteError(StringPrintf("ReadReg Fail, Error Code:%d", 2));
    WriteLog("a\tb\rc\nd");
    WriteWCharLog("title: ", L"caf\u00e9 \u4e2d");
    EXPECT_EQ(ReadLogFile(),
              "\r\n\r\n\r\n2026/3/3 9:5:7\r\n"
              "23:59:58 999\t[Error]ReadReg Fail, Error Code:2\r\n"
              "23:59:58 999\t[INFO]a\tb\rc\nd\r\n"
              "23:59:58 999\t[INFO]title: caf\xe9 ?\r\n");
}

// Log off: nothing written nor told. File held elsewhere: lines lost, only errors to the debugger.
TEST_F(LogTest, OnlyErrorWritersTellTheDebuggerAndOnlyWhenTheFileCannotBeOpened) {
    DebuggedRun run = RunTestHostUnderDebugger(L"log-init log-writers");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.debugStrings.empty());

    unique_file held(::CreateFileW(L"d:\\shakelog.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    run = RunTestHostUnderDebugger(L"log-on log-writers log-init log-writers");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.debugStrings, std::vector<std::string>(5, "create log file fail\n"));
    held.reset();
    EXPECT_EQ(ReadLogFile(), "");
}

// A name taken by an event can be no mutex: the scope runs unlocked, and the log says so.
TEST_F(LogTest, NamedMutexThatCannotBeHadIsLoggedWithItsErrorCode) {
    const std::wstring name = UniqueName(L"not-a-mutex");
    const unique_handle event = NamedEvent(name);
    HANDLE sharedHandle = nullptr;
    ScopedNamedMutex lock(name.c_str(), sharedHandle);
    EXPECT_FALSE(lock.Held());
    EXPECT_NE(ReadLogFile().find(" fail, Error Code:6\r\n"), std::string::npos);
}

// Lines of two processes never interleave. A run that begins while processes of another run write
// (another session's, in the field) puts its header after their lines; once nobody else writes, a
// run starts the file anew.
TEST_F(LogTest, LinesOfTwoProcessesNeverInterleaveAndOnlyARunAloneEmptiesTheFile) {
    const std::wstring go = UniqueName(L"go"), done = UniqueName(L"done");
    const unique_handle goEvent = NamedEvent(go), doneEvent = NamedEvent(done);
    const auto writer = [&](const wchar_t* tag) {
        return L"log-on wait " + go + L" log-lines 300 " + tag + L" signal " + go + tag +
               L" wait " + done;
    };
    TestHost alpha(writer(L"alpha")), beta(writer(L"beta"));
    ::SetEvent(goEvent.get());
    for (const wchar_t* tag : {L"alpha", L"beta"}) ASSERT_TRUE(WaitForNamedEvent(go + tag));
    InitLogFile();
    const std::string header = "\r\n\r\n\r\n2026/12/6 14:3:9\r\n", kept = ReadLogFile();
    ASSERT_EQ(kept.rfind(header), kept.size() - header.size()) << kept;

    const std::regex line(R"(\d+:\d+:\d+ \d+\t\[INFO\](alpha|beta) line (\d+) ={200} end\r)");
    std::map<std::string, int> nextLine;
    std::istringstream content(kept.substr(0, kept.size() - header.size()));
    std::string text;
    while (std::getline(content, text)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        EXPECT_EQ(std::stoi(match[2]), nextLine[match[1]]++);
    }
    EXPECT_EQ(nextLine, (std::map<std::string, int>{{"alpha", 300}, {"beta", 300}}));

    ::SetEvent(doneEvent.get());
    for (TestHost* host : {&alpha, &beta}) ASSERT_EQ(host->Wait(), 0u);
    InitLogFile();
    EXPECT_EQ(ReadLogFile(), header);
}

}  // namespace
}  // namespace kvshake::testing
