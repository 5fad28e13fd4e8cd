#pragma once

#include <optional>
#include <string>

namespace kvshake {

// The service's request paths and the reading of its answers.

// GET paths of the service's requests. The stored account values (see settings_store.h) are
// appended as they are, without any encoding; a value that is missing or cannot be read is
// appended as empty. Values are read in the order in which they appear in the path.
std::wstring CheckPath();
std::wstring ActivatePath();
std::wstring InactivatePath();
std::wstring UnbindPath();
std::wstring UploadPath();

// Tells whether an answer quotes its texts with double quotes (true) or single quotes (false).
// Looks at the system ANSI code page form of the text: for each colon in turn, the first of the
// next two characters that is a quote decides. A text without a deciding colon counts as double
// quoted, and so does a text that cannot be converted.
bool IsDoubleQuoted(const std::wstring& text);

// The quoted text following the key in an answer. This is a plain text scan, not a JSON parser:
// - the key is found with a simple running match that does not back up after a mismatch, and it
//   also matches inside a longer name or inside a value;
// - a key that is not found (or an empty key) reads as if it ended at the start of the text;
// - the value is whatever lies between the next two quotes from two characters after the key's
//   end, so an unquoted value gives the next quoted text instead;
// - no opening or no closing quote gives an empty text.
// The result holds at most kMaxKeyValueLength characters, what a buffer of 1024 characters with
// its terminator has room for (the size callers have always read values into); a longer value is
// cut to that length rather than written past anything.
inline constexpr size_t kMaxKeyValueLength = 1023;
std::wstring GetKeyValue(const std::wstring& text, const std::wstring& key);

// True when "201" occurs anywhere in the text, also inside a longer number.
bool ContainsCode201(const std::wstring& text);

// The text of a response for the log; null (logged as empty) when none arrived.
inline const wchar_t* ResponseText(const std::optional<std::wstring>& response) {
    return response ? response->c_str() : nullptr;
}

// What an answer to the check request asks for.
enum class CheckOutcome { Failed = 0, Nothing = 1, Shake = 2 };

// No answer, or "ret" other than exactly "0", is Failed; otherwise "shake_status" exactly "1" is
// Shake and anything else Nothing.
CheckOutcome CheckOutcomeOf(const std::optional<std::wstring>& response);

}  // namespace kvshake
