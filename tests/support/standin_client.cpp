#include "support/standin_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>

namespace kvshake::testing {
namespace {

struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { ::WSACleanup(); }
};

unsigned short ControlPort() {
    const char* port = std::getenv("KVSHAKE_STANDIN_CONTROL_PORT");
    return static_cast<unsigned short>(port ? std::atoi(port) : 0);
}

// One HTTP/1.0 exchange with the control port; returns the response body, or nothing at all
// when the exchange failed or the status was not 200.
bool Exchange(const char* method, const char* path, const std::string& body, std::string& reply) {
    static WinsockSession session;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(ControlPort());
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    std::string request = std::string(method) + " " + path +
                          " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body;
    std::string response;
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(s, request.data(), static_cast<int>(request.size()), 0) ==
            static_cast<int>(request.size())) {
        char chunk[8192];
        int received = 0;
        while ((received = ::recv(s, chunk, sizeof(chunk), 0)) > 0)
            response.append(chunk, received);
    }
    ::closesocket(s);
    const size_t headerEnd = response.find("\r\n\r\n");
    if (headerEnd == std::string::npos || response.compare(9, 3, "200") != 0) return false;
    reply = response.substr(headerEnd + 4);
    return true;
}

bool Post(const char* path, const std::string& body) {
    std::string reply;
    return Exchange("POST", path, body, reply);
}

}  // namespace

std::string RecordedRequest::RequestLine() const { return raw.substr(0, raw.find("\r\n")); }

std::string RecordedRequest::Body() const {
    const size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : raw.substr(end + 4);
}

namespace standin {

bool Reset() { return Post("/reset", ""); }

bool Script(const std::string& answersJsonArray) { return Post("/script", answersJsonArray); }

bool SetDefault(const std::string& answerJsonObject) { return Post("/default", answerJsonObject); }

// The reply frames each request as "REQUEST <length> <alongside> <done>\r\n" and its raw bytes.
std::vector<RecordedRequest> Requests() {
    std::vector<RecordedRequest> requests;
    std::string reply;
    if (!Exchange("GET", "/requests", "", reply)) return requests;
    size_t position = 0;
    while (position < reply.size()) {
        const size_t lineEnd = reply.find("\r\n", position);
        unsigned long length = 0;
        unsigned alongside = 0, done = 0;
        if (lineEnd == std::string::npos ||
            std::sscanf(reply.c_str() + position, "REQUEST %lu %u %u", &length, &alongside,
                        &done) != 3) {
            break;
        }
        requests.push_back({reply.substr(lineEnd + 2, length), alongside, done != 0});
        position = lineEnd + 2 + length;
    }
    return requests;
}

std::vector<RecordedRequest> RequestsTo(const char* pathPart) {
    std::vector<RecordedRequest> matching;
    for (RecordedRequest& request : Requests()) {
        if (request.RequestLine().find(pathPart) != std::string::npos) {
            matching.push_back(std::move(request));
        }
    }
    return matching;
}

size_t RequestCount() {
    std::string reply;
    return Exchange("GET", "/count", "", reply) ? std::strtoul(reply.c_str(), nullptr, 10) : 0;
}

std::wstring ProxyAddress() { return L"127.0.0.1:" + std::to_wstring(ControlPort()); }

std::string Answer(const char* match, const std::string& body, int delayMs) {
    return std::string(R"({"match":)") + JsonString(match) + R"(,"delay_ms":)" +
           std::to_string(delayMs) + R"(,"body":)" + JsonString(body) + "}";
}

}  // namespace standin

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace kvshake::testing
