#pragma once

#include <string>
#include <vector>

namespace kvshake::testing {

// One request as the service stand-in received it, byte for byte.
struct RecordedRequest {
    std::string raw;
    unsigned alongside = 0;  // requests for the same path awaiting answers when it arrived
    bool done = false;       // its answer is being sent, or was dropped

    std::string RequestLine() const;  // "GET /path HTTP/1.0"
    std::string Body() const;
};

// The control side of the local HTTPS stand-in of the web service (plain HTTP on loopback, at
// the port the test environment publishes). Answers are the JSON objects that
// tests/service_standin/standin.py describes.
namespace standin {

bool Reset();  // forgets answers and requests; releases hanging connections
bool Script(const std::string& answersJsonArray);
bool SetDefault(const std::string& answerJsonObject);
std::vector<RecordedRequest> Requests();
std::vector<RecordedRequest> RequestsTo(const char* pathPart);  // whose request line has the part
size_t RequestCount();  // cheaper than Requests() for a test that only counts
// host:port of the control port, which tunnels CONNECT requests as a user's proxy and records
// them among the requests.
std::wstring ProxyAddress();
// The answer object for requests whose path has match: body, after delayMs.
std::string Answer(const char* match, const std::string& body, int delayMs = 0);

}  // namespace standin

// Quotes text as a JSON string; bytes of 0x80 and above are taken as UTF-8 and passed through.
std::string JsonString(const std::string& text);

}  // namespace kvshake::testing
