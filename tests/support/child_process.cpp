#include "support/child_process.h"

#include <cstdio>

#include "support/log_file.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

std::wstring TestHostCommandLine(const std::wstring& commands) {
    return L"\"" + TestHostPath() + L"\" " + commands;
}

std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const size_t unit = info.fUnicode ? sizeof(wchar_t) : sizeof(char);
    std::string bytes(info.nDebugStringLength * unit, '\0');
    SIZE_T read = 0;
    ::ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &read);
    bytes.resize(read);
    if (info.fUnicode) {
        std::wstring wide(reinterpret_cast<const wchar_t*>(bytes.data()), read / unit);
        bytes.assign(wide.begin(), wide.end());  // the strings of interest are ASCII
    }
    while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return bytes;
}

// Every program that a test starts runs in this job, which ends them all when the test's
// process ends, whether it returns or is killed at its time-out: nothing it started lives on to
// hold the machine run, a port or a window for the next case.
HANDLE TestJob() {
    static const HANDLE job = [] {
        HANDLE made = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made) {
            ::SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits,
                                      sizeof(limits));
        }
        return made;
    }();
    return job;
}

// Starts commandLine suspended, puts it in the test job, then lets it run; the process, or null.
unique_handle StartInTestJob(std::wstring commandLine, DWORD flags, STARTUPINFOW& startup,
                             BOOL inherit, DWORD* processId = nullptr) {
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, inherit,
                          flags | CREATE_SUSPENDED, nullptr, nullptr, &startup, &info)) {
        return unique_handle();
    }
    const unique_handle thread(info.hThread);
    ::AssignProcessToJobObject(TestJob(), info.hProcess);
    ::ResumeThread(thread.get());
    if (processId) *processId = info.dwProcessId;
    return unique_handle(info.hProcess);
}

}  // namespace

ChildProcess::ChildProcess(std::wstring commandLine) {
    wchar_t tempDir[MAX_PATH + 1] = {};
    wchar_t tempFile[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, tempDir);
    ::GetTempFileNameW(tempDir, L"kvo", 0, tempFile);
    outputPath_ = tempFile;

    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    unique_file output(::CreateFileW(outputPath_.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    process_ = StartInTestJob(std::move(commandLine), 0, startup, TRUE, &processId_);
}

ChildProcess::~ChildProcess() {
    Kill();
    ::DeleteFileW(outputPath_.c_str());
}

DWORD ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_ || ::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

void ChildProcess::Kill() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 255);
        ::WaitForSingleObject(process_.get(), 10000);
    }
}

std::string ChildProcess::Output() const { return ReadWholeFile(outputPath_); }

TestHost::TestHost(const std::wstring& commands) : ChildProcess(TestHostCommandLine(commands)) {}

ProgramRun RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
    ChildProcess child(commandLine);
    ProgramRun run;
    run.exitCode = child.Wait(timeoutMs);
    run.output = child.Output();
    return run;
}

DebuggedRun RunTestHostUnderDebugger(const std::wstring& commands) {
    DebuggedRun run;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    const unique_handle process =
        StartInTestJob(TestHostCommandLine(commands), DEBUG_ONLY_THIS_PROCESS, startup, FALSE);
    if (!process) return run;
    for (;;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 60000)) break;
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT:
                run.debugStrings.push_back(ReadDebugString(process.get(), event.u.DebugString));
                break;
            case EXCEPTION_DEBUG_EVENT:
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    continueStatus = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case CREATE_PROCESS_DEBUG_EVENT:
                unique_file(event.u.CreateProcessInfo.hFile).reset();
                break;
            case LOAD_DLL_DEBUG_EVENT:
                unique_file(event.u.LoadDll.hFile).reset();
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                run.exitCode = event.u.ExitProcess.dwExitCode;
                ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
                return run;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    ::TerminateProcess(process.get(), 255);
    return run;
}

std::wstring Word(size_t number) { return L" " + std::to_wstring(number) + L" "; }

std::vector<long> DetachTimes(const std::string& output) {
    std::vector<long> times;
    long ms = 0;
    for (size_t at = output.find("detached in "); at != std::string::npos;
         at = output.find("detached in ", at + 1)) {
        if (std::sscanf(output.c_str() + at, "detached in %ld ms", &ms) == 1) times.push_back(ms);
    }
    return times;
}

unique_handle NamedEvent(const std::wstring& name) {
    return unique_handle(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
}

bool WaitForNamedEvent(const std::wstring& name, DWORD timeoutMs) {
    unique_handle event = NamedEvent(name);
    return event && ::WaitForSingleObject(event.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace kvshake::testing
