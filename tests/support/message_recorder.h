#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace kvshake::testing {

// A hidden window on the creating thread that records the private messages it receives, for
// tests to stand in for a tab's hidden window.
class MessageRecorder {
  public:
    // Of a tab's hidden window class unless another is named.
    explicit MessageRecorder(const wchar_t* className = nullptr);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    HWND Window() const { return window_; }
    size_t Count(UINT message) const;
    // Handles this thread's messages for ms milliseconds, as a browser thread would.
    static void Pump(DWORD ms);

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    std::vector<UINT> received_;
};

// The module that holds the calling code: a test program, or a double's own DLL.
HINSTANCE ThisModule();
// Registers a window class of ThisModule(); true when the class is there, now or from before.
bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure = ::DefWindowProcW);

// The one wait of the tests: handles this thread's messages (as a browser thread does, and as a
// thread must whose windows another thread sends to) until condition holds; false when timeoutMs
// pass first.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 15000);
// Until the object is signalled.
bool WaitFor(HANDLE object, DWORD timeoutMs);

}  // namespace kvshake::testing
