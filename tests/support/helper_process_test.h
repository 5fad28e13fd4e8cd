#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "foundation/settings_store.h"
#include "support/child_process.h"
#include "support/log_file.h"
#include "support/message_recorder.h"
#include "support/standin_client.h"
#include "support/test_paths.h"

namespace kvshake::testing {

inline constexpr char kNothing[] = R"({"ret":"0","shake_status":"0"})";
inline constexpr char kShake[] = R"({"ret":"0","shake_status":"1"})";

// An answer of the stand-in to the check request.
inline std::string CheckAnswer(const char* body, int delayMs = 0) {
    return standin::Answer("shakecheck", body, delayMs);
}

// Tests of a machine run in helper processes that load the module: a bound browser (a stored
// token) that the service activates, whose checks are answered "nothing" after 250 ms, with
// the log on.
class HelperProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(standin::Reset());
        standin::SetDefault(standin::Answer("shakeactive", R"({"message":"OK","sid":"s-1"})"));
        standin::SetDefault(CheckAnswer(kNothing, 250));
        ClearAccount();
        WriteReg(kTokenValue, L"t-1");
        WriteReg(kUinValue, L"10001");
        WriteReg(kDebugValue, L"1");
        DeleteLogFile();
    }
    void TearDown() override {
        standin::Reset();
        ClearAccount();
        DelReg(kDebugValue);
    }

    // The first TLS exchange in a new Wine prefix loads and imports the system's roots, which can
    // take a while on a busy machine.
    static ::testing::AssertionResult Activated() {
        if (WaitUntil([] { return LogHas("[INFO]ActivateSuc End\r\n"); }, 60000)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << ReadLogFile();
    }

    // Ends the helper processes' last "serve".
    const std::wstring done_ = UniqueName(L"done");
    const unique_handle doneEvent_ = NamedEvent(done_);
};

}  // namespace kvshake::testing
