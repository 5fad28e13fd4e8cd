#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/unique_resource.h"

namespace kvshake::testing {

// A program running in a process of its own, with its standard output and error captured in a
// file.
class ChildProcess {
  public:
    explicit ChildProcess(std::wstring commandLine);
    ~ChildProcess();  // kills the process if it still runs

    bool Started() const { return static_cast<bool>(process_); }
    // Waits for the exit and returns the exit code; STILL_ACTIVE when the wait timed out.
    DWORD Wait(DWORD timeoutMs = 30000);
    void Kill();
    std::string Output() const;
    DWORD ProcessId() const { return processId_; }

  private:
    unique_handle process_;
    DWORD processId_ = 0;
    std::wstring outputPath_;
};

// The helper program kvshake_testhost.exe; its command line is a list of commands (see
// testhost_main.cpp).
class TestHost : public ChildProcess {
  public:
    explicit TestHost(const std::wstring& commands);
};

// A program run to its end (or killed after timeoutMs), with what it printed.
struct ProgramRun {
    DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE: it did not start, or did not end in time
    std::string output;
};
ProgramRun RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 120000);

// Runs the helper program to its end under this process as its debugger, and collects what it
// sends to the debugger output.
struct DebuggedRun {
    DWORD exitCode = STILL_ACTIVE;
    std::vector<std::string> debugStrings;
};
DebuggedRun RunTestHostUnderDebugger(const std::wstring& commands);

// A number as a word of the helper program's command line, with a space either side.
std::wstring Word(size_t number);
// The times that the helper program's "detach" commands printed, in milliseconds.
std::vector<long> DetachTimes(const std::string& output);

// A manual-reset event that the helper program's "signal" and "wait" commands use by name.
unique_handle NamedEvent(const std::wstring& name);
bool WaitForNamedEvent(const std::wstring& name, DWORD timeoutMs = 30000);

}  // namespace kvshake::testing
