#include "com/program_run.h"

#include "foundation/unique_resource.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

std::wstring TempFileName() {
    wchar_t directory[MAX_PATH + 1] = {};
    wchar_t file[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, directory);
    ::GetTempFileNameW(directory, L"kvr", 0, file);
    return file;
}

std::string ReadWholeFile(const std::wstring& path) {
    unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        content.append(chunk, read);
    }
    return content;
}

std::string Trimmed(std::string text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

ProgramRun RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
    const std::wstring outputPath = TempFileName();
    ProgramRun run;
    {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        unique_file output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
        PROCESS_INFORMATION info{};
        std::wstring line = commandLine;
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &info)) {
            unique_handle process(info.hProcess);
            unique_handle thread(info.hThread);
            if (::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
                ::GetExitCodeProcess(process.get(), &run.exitCode);
            } else {
                ::TerminateProcess(process.get(), 255);
                ::WaitForSingleObject(process.get(), 10000);
            }
        }
    }
    run.output = ReadWholeFile(outputPath);
    ::DeleteFileW(outputPath.c_str());
    return run;
}

ProgramRun RunRegTool(const std::wstring& arguments) {
    ProgramRun run =
        RunProgram(L"\"" + BesideThisProgram(L"kvshake_regtool.exe") + L"\" " + arguments);
    run.output = Trimmed(run.output);
    return run;
}

}  // namespace kvshake::testing
