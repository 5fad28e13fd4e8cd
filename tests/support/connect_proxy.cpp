#include "support/connect_proxy.h"

#include <ws2tcpip.h>

#include <mutex>
#include <utility>

namespace kvshake::testing {
namespace {

constexpr timeval kPollTime{0, 200 * 1000};

struct Socket {
    SOCKET s;
    explicit Socket(SOCKET value) : s(value) {}
    ~Socket() {
        if (s != INVALID_SOCKET) ::closesocket(s);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};

// True when the socket has data or news of its end within the poll time.
bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait = kPollTime;
    return ::select(0, &set, nullptr, nullptr, &wait) == 1;
}

bool SendAll(SOCKET s, const char* data, int size) {
    while (size > 0) {
        const int sent = ::send(s, data, size, 0);
        if (sent <= 0) return false;
        data += sent;
        size -= sent;
    }
    return true;
}

SOCKET ConnectTo(const std::string& hostAndPort) {
    const size_t colon = hostAndPort.rfind(':');
    if (colon == std::string::npos) return INVALID_SOCKET;
    const std::string host = hostAndPort.substr(0, colon), port = hostAndPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return INVALID_SOCKET;
    SOCKET s = INVALID_SOCKET;
    for (addrinfo* a = found; a && s == INVALID_SOCKET; a = a->ai_next) {
        s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s != INVALID_SOCKET && ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            ::closesocket(s);
            s = INVALID_SOCKET;
        }
    }
    ::freeaddrinfo(found);
    return s;
}

}  // namespace

ConnectProxy::ConnectProxy() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return;
    }
    port_ = ::ntohs(address.sin_port);
    thread_.reset(::CreateThread(nullptr, 0, Serve, this, 0, nullptr));
}

ConnectProxy::~ConnectProxy() {
    stopping_ = true;
    ::WaitForSingleObject(thread_.get(), 10000);
    ::closesocket(listener_);
    ::WSACleanup();
}

std::vector<std::string> ConnectProxy::RequestLines() const {
    std::lock_guard<CriticalSection> guard(lock_);
    return requestLines_;
}

DWORD WINAPI ConnectProxy::Serve(LPVOID parameter) {
    auto* self = static_cast<ConnectProxy*>(parameter);
    while (!self->stopping_) {
        if (!Readable(self->listener_)) continue;
        const SOCKET client = ::accept(self->listener_, nullptr, nullptr);
        if (client != INVALID_SOCKET) self->Tunnel(client);
    }
    return 0;
}

// Reads the request's head, connects where it names, answers 200 and relays both ways until
// either side ends.
void ConnectProxy::Tunnel(SOCKET clientSocket) {
    const Socket client(clientSocket);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && !stopping_) {
        if (!Readable(client.s)) continue;
        const int read = ::recv(client.s, buffer, sizeof(buffer), 0);
        if (read <= 0) return;
        head.append(buffer, read);
    }
    const std::string line = head.substr(0, head.find("\r\n"));
    {
        std::lock_guard<CriticalSection> guard(lock_);
        requestLines_.push_back(line);
    }
    const size_t target = line.find(' ') + 1;
    const Socket server(line.compare(0, 8, "CONNECT ") == 0
                            ? ConnectTo(line.substr(target, line.find(' ', target) - target))
                            : INVALID_SOCKET);
    const std::string answer = server.s == INVALID_SOCKET
                                   ? "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n"
                                   : "HTTP/1.1 200 Connection established\r\n\r\n";
    if (!SendAll(client.s, answer.data(), static_cast<int>(answer.size())) ||
        server.s == INVALID_SOCKET) {
        return;
    }
    const std::string early = head.substr(head.find("\r\n\r\n") + 4);
    if (!SendAll(server.s, early.data(), static_cast<int>(early.size()))) return;
    while (!stopping_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(client.s, &ready);
        FD_SET(server.s, &ready);
        timeval wait = kPollTime;
        if (::select(0, &ready, nullptr, nullptr, &wait) < 0) return;
        for (const auto& [from, to] :
             {std::pair{client.s, server.s}, std::pair{server.s, client.s}}) {
            if (!FD_ISSET(from, &ready)) continue;
            const int read = ::recv(from, buffer, sizeof(buffer), 0);
            if (read <= 0 || !SendAll(to, buffer, read)) return;
        }
    }
}

}  // namespace kvshake::testing
