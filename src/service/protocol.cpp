#include "service/protocol.h"

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

// ReadReg leaves the value empty (and logs) when it is missing or unreadable. A value that holds
// '&' or '=' must not add a parameter of its own.
void AppendStoredValue(std::wstring& path, const wchar_t* name) {
    std::wstring value;
    ReadReg(name, value);
    path += EncodeFieldValue(value);
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

bool IsQuote(wchar_t c) { return c == L'"' || c == L'\''; }

// JSON's white space.
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool EndsBareWord(wchar_t c) {
    return c == L',' || c == L'}' || c == L']' || c == L':' || IsQuote(c) || IsBlank(c);
}

size_t SkipBlanks(const std::wstring& text, size_t position) {
    while (position < text.size() && IsBlank(text[position])) ++position;
    return position;
}

// The quoted text that opens at position, without its quotes; position moves past the closing
// quote (to the end when there is none, which leaves the text cut off).
std::optional<std::wstring> ReadQuoted(const std::wstring& text, size_t& position) {
    const wchar_t quote = text[position];
    std::wstring value;
    for (size_t i = position + 1; i < text.size(); ++i) {
        if (text[i] == quote) {
            position = i + 1;
            return value;
        }
        if (text[i] == L'\\' && i + 1 < text.size()) value += text[i++];
        value += text[i];
    }
    position = text.size();
    return std::nullopt;
}

// Calls visit(key, value) for each key of the text in order, until it returns true. A key's
// value that opens an object or an array is empty; the keys inside follow as keys.
template <typename Visit>
void ForEachKey(const std::wstring& text, Visit visit) {
    size_t position = 0;
    while (position < text.size()) {
        if (!IsQuote(text[position])) {
            ++position;
            continue;
        }
        const std::optional<std::wstring> quoted = ReadQuoted(text, position);
        if (!quoted) return;
        position = SkipBlanks(text, position);
        if (position >= text.size() || text[position] != L':') continue;  // a value, not a key
        position = SkipBlanks(text, position + 1);
        std::wstring value;
        if (position < text.size() && IsQuote(text[position])) {
            const std::optional<std::wstring> quotedValue = ReadQuoted(text, position);
            if (!quotedValue) return;  // cut off inside the value
            value = *quotedValue;
        } else {
            const size_t start = position;
            while (position < text.size() && !EndsBareWord(text[position])) ++position;
            if (text.compare(start, 1, L"{") != 0 && text.compare(start, 1, L"[") != 0) {
                value = text.substr(start, position - start);
            }
        }
        if (visit(*quoted, value)) return;
    }
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

std::optional<std::wstring> FindKeyValue(const std::wstring& text, const std::wstring& key) {
    std::optional<std::wstring> found;
    ForEachKey(text, [&](const std::wstring& name, const std::wstring& value) {
        if (name != key) return false;
        found = value.substr(0, kMaxKeyValueLength);
        return true;
    });
    return found;
}

std::wstring GetKeyValue(const std::wstring& text, const std::wstring& key) {
    return FindKeyValue(text, key).value_or(std::wstring());
}

bool HasCode201(const std::wstring& text) {
    bool found = false;
    ForEachKey(text, [&](const std::wstring&, const std::wstring& value) {
        found = value == L"201" || value == L"-201";
        return found;
    });
    return found;
}

bool IsAnswer(const std::optional<std::wstring>& response, const wchar_t* firstKey) {
    return response && FindKeyValue(*response, firstKey);
}

CheckOutcome CheckOutcomeOf(const std::optional<std::wstring>& response) {
    if (!IsAnswer(response, L"ret")) return CheckOutcome::NoAnswer;
    if (GetKeyValue(*response, L"ret") != L"0") return CheckOutcome::Failed;
    return GetKeyValue(*response, L"shake_status") == L"1" ? CheckOutcome::Shake
                                                           : CheckOutcome::Nothing;
}

}  // namespace kvshake
