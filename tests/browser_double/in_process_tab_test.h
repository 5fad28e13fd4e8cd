#pragma once

#include <gtest/gtest.h>
#include <objbase.h>

#include <optional>
#include <string>

#include "browser_double/attached_tab.h"

#include "foundation/shared_state.h"
#include "support/program_threads.h"
#include "support/standin_client.h"

namespace kvshake::testing {

// Tests of helper objects of the module's code linked into this program, on browser doubles
// of this process. The program's own shared block stands for a machine run that has started
// already; the stand-in answers checks with "nothing" after CheckDelayMs().
class InProcessTabTest : public ::testing::Test {
  protected:
    virtual int CheckDelayMs() const { return 50; }

    void SetUp() override {
        {
            SCOPED_TRACE("");  // GoogleTest's watcher of this thread starts with its first trace
        }
        threads_.emplace();
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(standin::Reset());
        standin::SetDefault(
            standin::Answer("shakecheck", R"({"ret":"0","shake_status":"0"})", CheckDelayMs()));
        SharedState() = SharedBlock{};
        SharedState().g_bInited = true;
    }
    void TearDown() override {
        tab_.reset();
        EXPECT_TRUE(threads_ && threads_->WaitForThoseStartedSince(60000))
            << "a thread of the case still runs";
        standin::Reset();
        SharedState() = SharedBlock{};
        ::CoUninitialize();
    }

    // A tab of the test's own machine run: attached at first use, detached before the run ends.
    AttachedTab& Tab() {
        if (!tab_) tab_.emplace();
        return *tab_;
    }

  private:
    std::optional<AttachedTab> tab_;
    std::optional<ProgramThreads> threads_;
};

}  // namespace kvshake::testing
