#pragma once

#include <optional>
#include <string>

namespace kvshake {

// The service's request paths and the reading of its answers.

// GET paths of the service's requests. The stored account values (see settings_store.h) are
// appended with EncodeFieldValue, so an ordinary value goes out as it is; a value that is missing
// or cannot be read is appended as empty. Values are read in the order in which they appear in the
// path.
std::wstring CheckPath();
std::wstring ActivatePath();
std::wstring InactivatePath();
std::wstring UnbindPath();
std::wstring UploadPath();

// Answers are small JSON objects, read by a scan that knows keys and values, not by a full
// parser. A key counts only as a whole key: a quoted text (double or single quotes) followed by a
// colon, never a part of a longer key or of a value. Its value is the quoted text that follows
// (without its quotes; a backslash keeps the next character inside it) or a bare word (a number,
// true, false, null) up to the next comma, brace, bracket or blank. The first occurrence of the
// key counts. A value holds at most kMaxKeyValueLength characters, what a buffer of 1024
// characters with its terminator has room for (the size callers have always read values into);
// a longer value is cut to that length rather than written past anything.
inline constexpr size_t kMaxKeyValueLength = 1023;

// The value of the key; nothing when the text has no such key, which tells a page that is not
// the service's answer (a gateway's block page, a captive portal, a cut body) from an answer.
std::optional<std::wstring> FindKeyValue(const std::wstring& text, const std::wstring& key);

// The value of the key, empty when the key is missing.
std::wstring GetKeyValue(const std::wstring& text, const std::wstring& key);

// True when some key of the answer has the code 201 (or -201) as its whole value, quoted or bare:
// the account is no longer bound. Digits inside a longer number or a text do not count.
bool HasCode201(const std::wstring& text);

// True when a response is the service's answer to a flow: it carries the key that the flow reads
// first. No response, or one without that key, is a failure of the transport.
bool IsAnswer(const std::optional<std::wstring>& response, const wchar_t* firstKey);

// The text of a response for the log; null (logged as empty) when none arrived.
inline const wchar_t* ResponseText(const std::optional<std::wstring>& response) {
    return response ? response->c_str() : nullptr;
}

// What an answer to the check request asks for. NoAnswer is a failure of the transport, not an
// answer of the service: no response, or a body without the key "ret".
enum class CheckOutcome { Failed = 0, Nothing = 1, Shake = 2, NoAnswer = 3 };

// "ret" other than exactly "0" is Failed; otherwise "shake_status" exactly "1" is Shake and
// anything else Nothing.
CheckOutcome CheckOutcomeOf(const std::optional<std::wstring>& response);

}  // namespace kvshake
