#include "com/program_run.h"

#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

std::string Trimmed(std::string text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

ProgramRun RunRegTool(const std::wstring& arguments) {
    ProgramRun run =
        RunProgram(L"\"" + BesideThisProgram(L"kvshake_regtool.exe") + L"\" " + arguments);
    run.output = Trimmed(run.output);
    return run;
}

}  // namespace kvshake::testing
