#pragma once

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "foundation/shared_state.h"
#include "support/standin_client.h"

namespace kvshake::testing {

// Tests of helper objects of the module's code linked into this program, on browser doubles
// of this process. The program's own shared block stands for a machine run that has started
// already; the stand-in answers checks with "nothing" after CheckDelayMs().
class InProcessTabTest : public ::testing::Test {
  protected:
    virtual int CheckDelayMs() const { return 50; }

    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(standin::Reset());
        standin::SetDefault(R"({"match":"shakecheck","delay_ms":)" +
                            std::to_string(CheckDelayMs()) +
                            R"(,"body":"{\"ret\":\"0\",\"shake_status\":\"0\"}"})");
        shake_da = SharedBlock{};
        shake_da.g_bInited = true;
    }
    void TearDown() override {
        standin::Reset();
        shake_da = SharedBlock{};
        ::CoUninitialize();
    }
};

}  // namespace kvshake::testing
