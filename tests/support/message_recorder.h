#pragma once

#include <windows.h>

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

// Waits, handling this thread's messages, until the condition holds; false after timeoutMs.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 15000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (condition()) return true;
        MessageRecorder::Pump(100);
    }
    return condition();
}

}  // namespace kvshake::testing
