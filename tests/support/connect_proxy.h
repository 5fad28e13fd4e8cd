#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "foundation/critical_section.h"
#include "foundation/unique_resource.h"

namespace kvshake::testing {

// A proxy on loopback that answers CONNECT requests, as a corporate network's proxy would: it
// tunnels each connection, one at a time, to the host and port that the client names, and
// records the request line of each.
class ConnectProxy {
  public:
    ConnectProxy();  // listens on 127.0.0.1, at a port the system picks
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    unsigned short Port() const { return port_; }
    std::vector<std::string> RequestLines() const;  // e.g. "CONNECT localhost:443 HTTP/1.1"

  private:
    static DWORD WINAPI Serve(LPVOID self);
    void Tunnel(SOCKET client);

    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable CriticalSection lock_;
    std::vector<std::string> requestLines_;
    unique_handle thread_;
};

}  // namespace kvshake::testing
