#include "com/registrar.h"

#include <shlwapi.h>

#include <climits>
#include <new>
#include <utility>

#include "foundation/unique_resource.h"

namespace kvshake {
namespace {

constexpr UINT kScriptCodePage = 936;
constexpr REGSAM kKeyAccess = KEY_READ | KEY_WRITE;

HRESULT FromStatus(LSTATUS status) noexcept {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

HRESULT FromLastError() noexcept {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

bool IsMissing(LSTATUS status) noexcept {
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

// Keywords are ASCII; comparing them must not depend on the thread's locale.
bool SameKeyword(std::wstring_view text, std::wstring_view keyword) noexcept {
    if (text.size() != keyword.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t a = text[i], b = keyword[i];
        if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
        if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
        if (a != b) return false;
    }
    return true;
}

bool IsSpace(wchar_t c) noexcept {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

// ---- Reading the script ----

struct Token {
    std::wstring text;
    bool quoted = false;
};

// A quoted token ends at its closing quote; '' inside the quotes is one quote.
HRESULT ReadQuoted(std::wstring_view script, size_t& at, Token& token) {
    token.quoted = true;
    for (++at; at < script.size(); ++at) {
        if (script[at] != L'\'') {
            token.text += script[at];
        } else if (at + 1 < script.size() && script[at + 1] == L'\'') {
            token.text += L'\'';
            ++at;
        } else {
            ++at;
            return S_OK;
        }
    }
    return kScriptSyntaxError;  // no closing quote
}

HRESULT Tokenize(std::wstring_view script, std::vector<Token>& tokens) {
    size_t at = 0;
    for (;;) {
        while (at < script.size() && IsSpace(script[at])) ++at;
        if (at == script.size()) return S_OK;
        Token token;
        if (script[at] == L'\'') {
            const HRESULT hr = ReadQuoted(script, at, token);
            if (FAILED(hr)) return hr;
        } else {
            while (at < script.size() && !IsSpace(script[at])) token.text += script[at++];
        }
        tokens.push_back(std::move(token));
    }
}

// Decimal, or hexadecimal after 0x; the whole text must be the number and fit 32 bits.
bool ParseNumber(std::wstring_view text, DWORD& number) noexcept {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    unsigned long long value = 0;
    for (const wchar_t c : text) {
        unsigned digit = 16;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        if (c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        if (c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        if (digit >= base) return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull) return false;
    }
    number = static_cast<DWORD>(value);
    return true;
}

bool RootFromName(std::wstring_view name, ScriptRoot& root) noexcept {
    if (SameKeyword(name, L"HKCR") || SameKeyword(name, L"HKEY_CLASSES_ROOT")) {
        root = ScriptRoot::ClassesRoot;
    } else if (SameKeyword(name, L"HKLM") || SameKeyword(name, L"HKEY_LOCAL_MACHINE")) {
        root = ScriptRoot::LocalMachine;
    } else if (SameKeyword(name, L"HKCU") || SameKeyword(name, L"HKEY_CURRENT_USER")) {
        root = ScriptRoot::CurrentUser;
    } else {
        return false;
    }
    return true;
}

class Parser {
  public:
    explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    HRESULT Script(RegistryScript& parsed) {
        while (next_ < tokens_.size()) {
            ScriptRootBlock block;
            const HRESULT hr = Root(block);
            if (FAILED(hr)) return hr;
            parsed.push_back(std::move(block));
        }
        return S_OK;
    }

  private:
    // The next token if it is the bare keyword, which is then consumed.
    bool TakeKeyword(std::wstring_view keyword) {
        if (next_ == tokens_.size() || tokens_[next_].quoted ||
            !SameKeyword(tokens_[next_].text, keyword)) {
            return false;
        }
        ++next_;
        return true;
    }

    // Any token but the punctuation of the format.
    HRESULT TakeText(std::wstring& text) {
        if (next_ == tokens_.size()) return kScriptSyntaxError;
        const Token& token = tokens_[next_++];
        if (!token.quoted && (token.text == L"{" || token.text == L"}" || token.text == L"=")) {
            return kScriptSyntaxError;
        }
        text = token.text;
        return S_OK;
    }

    HRESULT TakeName(std::wstring& name) {
        const HRESULT hr = TakeText(name);
        return SUCCEEDED(hr) && name.empty() ? kScriptSyntaxError : hr;
    }

    HRESULT Root(ScriptRootBlock& block) {
        const Token& token = tokens_[next_++];
        if (token.quoted || !RootFromName(token.text, block.root)) return kScriptSyntaxError;
        if (!TakeKeyword(L"{")) return kScriptSyntaxError;
        return Body(block.keys, nullptr);
    }

    // Subkeys and, inside a key, named values, up to the closing brace.
    HRESULT Body(std::vector<ScriptKey>& keys, std::vector<ScriptValue>* values) {
        while (!TakeKeyword(L"}")) {
            if (next_ == tokens_.size()) return kScriptSyntaxError;
            HRESULT hr;
            if (TakeKeyword(L"val")) {
                if (values == nullptr) return kScriptSyntaxError;
                values->emplace_back();
                hr = NamedValue(values->back());
            } else {
                keys.emplace_back();
                hr = Key(keys.back());
            }
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    KeyMark TakeMark() {
        if (TakeKeyword(L"NoRemove")) return KeyMark::NoRemove;
        if (TakeKeyword(L"ForceRemove")) return KeyMark::ForceRemove;
        if (TakeKeyword(L"Delete")) return KeyMark::Delete;
        return KeyMark::None;
    }

    HRESULT Key(ScriptKey& key) {
        key.mark = TakeMark();
        HRESULT hr = TakeName(key.name);
        if (FAILED(hr)) return hr;
        if (TakeKeyword(L"=")) {
            key.values.emplace_back();
            hr = Data(key.values.back());
            if (FAILED(hr)) return hr;
        }
        return TakeKeyword(L"{") ? Body(key.subkeys, &key.values) : S_OK;
    }

    HRESULT NamedValue(ScriptValue& value) {
        const HRESULT hr = TakeName(value.name);
        if (FAILED(hr)) return hr;
        return TakeKeyword(L"=") ? Data(value) : kScriptSyntaxError;
    }

    // The type letter and the data after "=".
    HRESULT Data(ScriptValue& value) {
        if (TakeKeyword(L"s")) {
            value.type = REG_SZ;
            return TakeText(value.text);
        }
        if (!TakeKeyword(L"d")) return kScriptSyntaxError;
        value.type = REG_DWORD;
        std::wstring text;
        const HRESULT hr = TakeText(text);
        if (FAILED(hr)) return hr;
        return ParseNumber(text, value.number) ? S_OK : kScriptSyntaxError;
    }

    std::vector<Token> tokens_;
    size_t next_ = 0;
};

// ---- Writing the registry ----

// Deletes the key with its values and all its subkeys; a key that is not there counts as
// deleted. Shell's SHDeleteKeyW does this on every system the module runs on, Windows XP included.
HRESULT DeleteTree(HKEY parent, const std::wstring& name) noexcept {
    const LSTATUS status = static_cast<LSTATUS>(::SHDeleteKeyW(parent, name.c_str()));
    return IsMissing(status) ? S_OK : FromStatus(status);
}

HRESULT WriteValue(HKEY key, const ScriptValue& value) noexcept {
    if (value.type == REG_DWORD) {
        return FromStatus(::RegSetValueExW(key, value.name.c_str(), 0, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&value.number),
                                           sizeof(value.number)));
    }
    const DWORD bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
    return FromStatus(::RegSetValueExW(key, value.name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(value.text.c_str()), bytes));
}

HRESULT RegisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) noexcept;
HRESULT UnregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) noexcept;

HRESULT RegisterKey(HKEY parent, const ScriptKey& key) noexcept {
    if (key.mark == KeyMark::Delete) return DeleteTree(parent, key.name);
    if (key.mark == KeyMark::ForceRemove) {
        const HRESULT hr = DeleteTree(parent, key.name);
        if (FAILED(hr)) return hr;
    }
    unique_hkey opened;
    HRESULT hr = FromStatus(::RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, kKeyAccess,
                                              nullptr, opened.put(), nullptr));
    for (size_t i = 0; SUCCEEDED(hr) && i < key.values.size(); ++i) {
        hr = WriteValue(opened.get(), key.values[i]);
    }
    return SUCCEEDED(hr) ? RegisterKeys(opened.get(), key.subkeys) : hr;
}

// A NoRemove key keeps whatever the script does not name; the named values and the subkeys of
// the script go.
HRESULT UnregisterInside(HKEY parent, const ScriptKey& key) noexcept {
    unique_hkey opened;
    const LSTATUS status = ::RegOpenKeyExW(parent, key.name.c_str(), 0, kKeyAccess, opened.put());
    if (IsMissing(status)) return S_OK;
    if (status != ERROR_SUCCESS) return FromStatus(status);
    for (const ScriptValue& value : key.values) {
        if (value.name.empty()) continue;
        const LSTATUS deleted = ::RegDeleteValueW(opened.get(), value.name.c_str());
        if (deleted != ERROR_SUCCESS && !IsMissing(deleted)) return FromStatus(deleted);
    }
    return UnregisterKeys(opened.get(), key.subkeys);
}

HRESULT UnregisterKey(HKEY parent, const ScriptKey& key) noexcept {
    switch (key.mark) {
        case KeyMark::NoRemove:
            return UnregisterInside(parent, key);
        case KeyMark::Delete:
            return S_OK;  // acts on registration only
        default:
            return DeleteTree(parent, key.name);
    }
}

HRESULT RegisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) noexcept {
    for (const ScriptKey& key : keys) {
        const HRESULT hr = RegisterKey(parent, key);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) noexcept {
    for (const ScriptKey& key : keys) {
        const HRESULT hr = UnregisterKey(parent, key);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// The key a root stands for: the location's own key when it names no path, else the path below
// it, created for registration. S_FALSE when unregistration finds no such path.
HRESULT OpenRoot(const RegistryLocation& location, ScriptAction action, unique_hkey& owned,
                 HKEY& key) noexcept {
    key = location.key;
    if (location.subkey.empty()) return S_OK;
    LSTATUS status;
    if (action == ScriptAction::Register) {
        status = ::RegCreateKeyExW(location.key, location.subkey.c_str(), 0, nullptr, 0, kKeyAccess,
                                   nullptr, owned.put(), nullptr);
    } else {
        status = ::RegOpenKeyExW(location.key, location.subkey.c_str(), 0, kKeyAccess, owned.put());
        if (IsMissing(status)) return S_FALSE;
    }
    key = owned.get();
    return FromStatus(status);
}

HRESULT ApplyBlock(const ScriptRootBlock& block, const RegistryRoots& roots,
                   ScriptAction action) noexcept {
    unique_hkey owned;
    HKEY root = nullptr;
    const HRESULT hr = OpenRoot(roots.Location(block.root), action, owned, root);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
    return action == ScriptAction::Register ? RegisterKeys(root, block.keys)
                                            : UnregisterKeys(root, block.keys);
}

}  // namespace

RegistryRoots RegistryRoots::PerMachine() {
    RegistryRoots roots;
    roots.Redirect(ScriptRoot::ClassesRoot, {HKEY_CLASSES_ROOT, L""})
        .Redirect(ScriptRoot::LocalMachine, {HKEY_LOCAL_MACHINE, L""})
        .Redirect(ScriptRoot::CurrentUser, {HKEY_CURRENT_USER, L""});
    return roots;
}

RegistryRoots RegistryRoots::PerUser() {
    RegistryRoots roots = PerMachine();
    roots.Redirect(ScriptRoot::ClassesRoot, {HKEY_CURRENT_USER, L"Software\\Classes"});
    return roots;
}

RegistryRoots& RegistryRoots::Redirect(ScriptRoot root, RegistryLocation location) {
    locations_[static_cast<int>(root)] = std::move(location);
    return *this;
}

const RegistryLocation& RegistryRoots::Location(ScriptRoot root) const {
    return locations_[static_cast<int>(root)];
}

HRESULT ScriptTextToWide(std::string_view narrow, std::wstring& wide) noexcept {
    narrow = narrow.substr(0, narrow.find('\0'));
    wide.clear();
    if (narrow.empty()) return S_OK;
    if (narrow.size() > INT_MAX) return E_INVALIDARG;
    const int length = static_cast<int>(narrow.size());
    const int needed = ::MultiByteToWideChar(kScriptCodePage, MB_ERR_INVALID_CHARS, narrow.data(),
                                             length, nullptr, 0);
    if (needed == 0) return FromLastError();
    try {
        wide.resize(static_cast<size_t>(needed));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (::MultiByteToWideChar(kScriptCodePage, MB_ERR_INVALID_CHARS, narrow.data(), length,
                              wide.data(), needed) != needed) {
        wide.clear();
        return FromLastError();
    }
    return S_OK;
}

HRESULT ExpandReplacements(std::wstring_view script, const ScriptReplacements& replacements,
                           std::wstring& expanded) noexcept {
    expanded.clear();
    try {
        for (size_t at = 0; at < script.size(); ++at) {
            if (script[at] != L'%') {
                expanded += script[at];
                continue;
            }
            const size_t end = script.find(L'%', at + 1);
            if (end == std::wstring_view::npos) return kScriptSyntaxError;
            const std::wstring name(script.substr(at + 1, end - at - 1));
            if (name.empty()) {
                expanded += L'%';
            } else {
                const auto found = replacements.find(name);
                if (found == replacements.end()) return kScriptSyntaxError;
                expanded += found->second;
            }
            at = end;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ParseRegistryScript(std::wstring_view script, RegistryScript& parsed) noexcept {
    parsed.clear();
    try {
        std::vector<Token> tokens;
        HRESULT hr = Tokenize(script, tokens);
        if (SUCCEEDED(hr)) hr = Parser(std::move(tokens)).Script(parsed);
        if (FAILED(hr)) parsed.clear();
        return hr;
    } catch (const std::bad_alloc&) {
        parsed.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT ApplyRegistryScript(const RegistryScript& script, const RegistryRoots& roots,
                            ScriptAction action) noexcept {
    for (const ScriptRootBlock& block : script) {
        const HRESULT hr = ApplyBlock(block, roots, action);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT RunRegistryScript(std::string_view narrow, const ScriptReplacements& replacements,
                          const RegistryRoots& roots, ScriptAction action) noexcept {
    std::wstring text, expanded;
    RegistryScript script;
    HRESULT hr = ScriptTextToWide(narrow, text);
    if (SUCCEEDED(hr)) hr = ExpandReplacements(text, replacements, expanded);
    if (SUCCEEDED(hr)) hr = ParseRegistryScript(expanded, script);
    return SUCCEEDED(hr) ? ApplyRegistryScript(script, roots, action) : hr;
}

HRESULT LoadRegistryScript(HMODULE module, UINT id, std::string& narrow) noexcept {
    narrow.clear();
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (found == nullptr) return FromLastError();
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) return FromLastError();
    try {
        narrow.assign(static_cast<const char*>(bytes), ::SizeofResource(module, found));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace kvshake
