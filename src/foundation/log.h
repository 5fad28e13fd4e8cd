#pragma once

#include <windows.h>

#include <string_view>

namespace kvshake {

// The diagnostic log: "d:\shakelog.txt", shared by every browser process of the machine.
// Every writer first tests the process's switch; with the log off nothing happens at all.
// Lines are serialised across processes by "mutexForWrite" and end with CR LF.

void EnableLog(bool on) noexcept;

// Empties the file and writes the dated run header; while processes of another machine run write
// the file (another session's, or another user's), the header is appended instead.
void InitLogFile() noexcept;

// An information line, tag "[INFO]".
void WriteLog(std::string_view message) noexcept;

// An error line, tag "[Error]".
void WriteError(std::string_view message) noexcept;

// An information line made of a narrow prefix and a UTF-16 text, the text narrowed to the
// system ANSI code page. A null text counts as empty.
void WriteWCharLog(std::string_view prefix, const wchar_t* text) noexcept;

// Lets tests stand in a clock of their own for GetLocalTime; null restores it.
using LocalTimeSource = void(WINAPI*)(LPSYSTEMTIME);
void SetLogClockForTesting(LocalTimeSource clock) noexcept;

}  // namespace kvshake
