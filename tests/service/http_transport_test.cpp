#include "service/http_transport.h"

#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "foundation/text.h"
#include "service/activation.h"
#include "service/check_loop.h"
#include "service/protocol.h"
#include "service/service_config.h"
#include "support/standin_client.h"
#include "support/stored_value.h"

namespace kvshake::testing {
namespace {

class HttpTransportTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(standin::Reset()) << "the service stand-in is not up"; }
    void TearDown() override { SetAuthenticationPromptForTesting(nullptr); }

    static std::optional<std::wstring> Get(const wchar_t* path = L"/shakecheck?uin=1&sid=2") {
        return GetData(kServiceHost, path);
    }
};

// A success gives the UTF-8-decoded body; an error or over one mebibyte, nothing; one request each.
TEST_F(HttpTransportTest, ResultFollowsTheAnswer) {
    std::string pieces;
    for (int i = 0; i < 1500; ++i) pieces += static_cast<char>('a' + i % 26);
    const std::string limit(1024 * 1024, 'a');
    const struct {
        std::string answer;
        std::optional<std::wstring> text;
    } cases[] = {
        {R"({"body":""})", L""},
        {R"({"status":404,"body":"{\"ret\":\"0\"}"})", std::nullopt},
        {R"({"body":"{\"nickname\":\"\u4e2d\u6587\"}"})", L"{\"nickname\":\"\u4e2d\u6587\"}"},
        {R"({"body_b64":"Yf9i"})", L"a\ufffdb"},
        {R"({"pieces":[{"body":)" + JsonString(pieces.substr(0, 1024)) + R"(},{"body":)" +
             JsonString(pieces.substr(1024)) + R"(,"delay_ms":300}]})",
         std::wstring(pieces.begin(), pieces.end())},
        {R"({"body":")" + limit + R"(b"})", std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(standin::Script("[" + c.answer + "]"));
        EXPECT_TRUE(Get() == c.text) << c.answer.substr(0, 100);
    }
    EXPECT_EQ(standin::RequestCount(), std::size(cases));
}

// A POST carries its body in the ANSI code page, with no content type. A closed port gives nothing.
TEST_F(HttpTransportTest, RequestsGoAsGivenAndPostsTheirBodyInTheAnsiCodePage) {
    ASSERT_EQ(::GetACP(), 1252u) << "run under a Western European locale";
    ASSERT_TRUE(Get(L"/shakecheck?uin=10001&sid=abc").has_value());
    ASSERT_TRUE(standin::Script(R"([{"body":"{\"ret\":\"0\"}"}])"));
    EXPECT_EQ(PostData(kServiceHost, L"/shakeupload?uin=1", L"title=caf\u00e9\u4e2d&url=x"),
              L"{\"ret\":\"0\"}");
    const auto requests = standin::Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].RequestLine(), "GET /shakecheck?uin=10001&sid=abc HTTP/1.0");
    EXPECT_EQ(requests[1].RequestLine(), "POST /shakeupload?uin=1 HTTP/1.0");
    EXPECT_EQ(requests[1].Body(), "title=caf\xe9?&url=x");
    EXPECT_EQ(requests[1].raw.find("Content-Type"), std::string::npos) << requests[1].raw;
    // The stand-in listens on 127.0.0.1 only, so the service port of 127.0.0.2 is closed.
    EXPECT_FALSE(GetData(L"127.0.0.2", L"/shakecheck").has_value());
    EXPECT_FALSE(PostData(L"127.0.0.2", L"/shakeupload", L"title=x").has_value());
}

TEST_F(HttpTransportTest, ExchangeThatGetsNoAnswerFailsAtItsTimeOut) {
    constexpr DWORD kLimitMs = 1000;
    ASSERT_TRUE(standin::Script(R"([{"hang":true},{"hang":true}])"));
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(GetData(kServiceHost, L"/shakecheck", kLimitMs).has_value());
    EXPECT_FALSE(PostData(kServiceHost, L"/shakeupload", L"title=x", kLimitMs).has_value());
    EXPECT_LT(::GetTickCount() - start, 2 * kLimitMs + 2000);
    EXPECT_EQ(standin::RequestCount(), 2u);
}

// The user's own proxy, set as host:port in the Internet Settings, carries the activation and the
// checks to the service.
TEST_F(HttpTransportTest, ExchangesGoThroughTheProxyOfTheUsersSettings) {
    constexpr wchar_t kSettings[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const DWORD on = 1;
    const ScopedRegValue enable(HKEY_CURRENT_USER, kSettings, L"ProxyEnable", REG_DWORD, &on,
                                sizeof(on));
    const ScopedRegValue proxy(HKEY_CURRENT_USER, kSettings, L"ProxyServer",
                               standin::ProxyAddress());
    ASSERT_TRUE(standin::SetDefault(R"({"body":"{\"message\":\"OK\",\"ret\":\"0\"}"})"));
    EXPECT_TRUE(IsAnswer(RequestActivation(), L"message"));
    EXPECT_EQ(checkShake(), CheckOutcome::Nothing);
    const std::string tunnel = "CONNECT " + WideToUtf8(kServiceHost).value_or("") + ":" +
                               std::to_string(kServicePort) + " ";
    const std::vector<RecordedRequest> tunnels = standin::RequestsTo("CONNECT ");
    ASSERT_EQ(tunnels.size(), 2u);
    for (const RecordedRequest& request : tunnels)
        EXPECT_EQ(request.RequestLine().rfind(tunnel, 0), 0u) << request.raw;
    EXPECT_EQ(standin::RequestsTo("shakeactive").size(), 1u);
    EXPECT_EQ(standin::RequestsTo("shakecheck").size(), 1u);
}

TEST_F(HttpTransportTest, AuthenticationRetriesWhileThePromptSaysSoThenGivesAnEmptyText) {
    static int prompts;
    SetAuthenticationPromptForTesting([](HINTERNET) -> DWORD {
        return ++prompts == 1 ? ERROR_INTERNET_FORCE_RETRY : ERROR_CANCELLED;
    });
    for (const char* status : {"401", "407"}) {
        ASSERT_TRUE(standin::Reset());
        ASSERT_TRUE(
            standin::SetDefault(std::string(R"({"status":)") + status + R"(,"body":"denied"})"));
        prompts = 0;
        EXPECT_EQ(Get(), std::wstring()) << status;
        EXPECT_EQ(prompts, 2);
        EXPECT_EQ(standin::Requests().size(), 2u) << status;
    }
}

}  // namespace
}  // namespace kvshake::testing
