#include "service/protocol.h"

#include <algorithm>
#include <initializer_list>

#include "foundation/settings_store.h"
#include "foundation/text.h"

namespace kvshake {
namespace {

constexpr wchar_t kServiceBinPath[] = L"/cgi-bin/pqsupport-bin/";

// A piece of a request path: fixed text followed by the stored value of the given name.
struct PathSegment {
    const wchar_t* text;
    const wchar_t* storedValue;
};

// ReadReg leaves the value empty (and logs) when it is missing or unreadable.
void AppendStoredValue(std::wstring& path, const wchar_t* name) {
    std::wstring value;
    ReadReg(name, value);
    path += value;
}

// Segments are appended, and their values read, strictly in the order given.
std::wstring BuildPath(const wchar_t* request, std::initializer_list<PathSegment> segments) {
    std::wstring path = std::wstring(kServiceBinPath) + request;
    for (const PathSegment& segment : segments) {
        path += segment.text;
        AppendStoredValue(path, segment.storedValue);
    }
    return path;
}

// A position at or past the end reads as NUL, as the terminator of a C string would: a colon
// near the end of the text then simply decides nothing.
char CharAt(const std::string& text, size_t position) {
    return position < text.size() ? text[position] : '\0';
}

// The position of the key's last character, or 0 when the key is not found. A mismatch starts
// the match over at the next character without comparing the mismatching one again.
size_t KeyEnd(const std::wstring& text, const std::wstring& key) {
    if (key.empty()) return 0;
    size_t matched = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != key[matched]) {
            matched = 0;
        } else if (++matched == key.size()) {
            return i;
        }
    }
    return 0;
}

}  // namespace

std::wstring CheckPath() {
    return BuildPath(L"shakecheck", {{L"?f=json&browser=3&deviceid=321456&uin=", kUinValue},
                                     {L"&sid=", kSidValue}});
}

std::wstring ActivatePath() {
    return BuildPath(L"shakeactive", {{L"?action=active&browser=3&f=json&token=", kTokenValue},
                                      {L"&uin=", kUinValue}});
}

std::wstring InactivatePath() {
    return BuildPath(L"shakeactive", {{L"?action=inactive&f=json&browser=3&uin=", kUinValue},
                                      {L"&sid=", kSidValue}});
}

std::wstring UnbindPath() {
    return BuildPath(L"shakeactive", {{L"?action=unbind&f=json&browser=3&token=", kTokenValue},
                                      {L"&uin=", kUinValue},
                                      {L"&sid=", kSidValue}});
}

std::wstring UploadPath() {
    return BuildPath(L"shakeupload",
                     {{L"?f=json&browser=3&uin=", kUinValue}, {L"&sid=", kSidValue}});
}

bool IsDoubleQuoted(const std::wstring& text) {
    const std::string ansi = WideToAnsi(text.c_str()).value_or(std::string());
    for (size_t colon = ansi.find(':'); colon != std::string::npos;
         colon = ansi.find(':', colon + 1)) {
        const char first = CharAt(ansi, colon + 1);
        const char second = CharAt(ansi, colon + 2);
        if (first == '\'') return false;
        if (first == '"') return true;
        if (second == '\'') return false;
        if (second == '"') return true;
    }
    return true;
}

std::wstring GetKeyValue(const std::wstring& text, const std::wstring& key) {
    const wchar_t quote = IsDoubleQuoted(text) ? L'"' : L'\'';
    // find() with a start past the end simply finds nothing.
    const size_t open = text.find(quote, KeyEnd(text, key) + 2);
    if (open == std::wstring::npos) return std::wstring();
    const size_t close = text.find(quote, open + 1);
    if (close == std::wstring::npos) return std::wstring();
    return text.substr(open + 1, std::min(close - open - 1, kMaxKeyValueLength));
}

bool ContainsCode201(const std::wstring& text) { return text.find(L"201") != std::wstring::npos; }

CheckOutcome CheckOutcomeOf(const std::optional<std::wstring>& response) {
    if (!response || GetKeyValue(*response, L"ret") != L"0") return CheckOutcome::Failed;
    return GetKeyValue(*response, L"shake_status") == L"1" ? CheckOutcome::Shake
                                                           : CheckOutcome::Nothing;
}

}  // namespace kvshake
