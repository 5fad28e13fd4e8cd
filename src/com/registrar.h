#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kvshake {

// Registry scripts in the registrar format of the ATL wizards, for example
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {GUID} = s 'Name'
//           {
//               InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' }
//           }
//       }
//   }
//
// Tokens are separated by white space; names are bare or in single quotes ('' is a quote inside
// quotes). A key may carry a default value (= s 'text' or = d 'number') and a body in braces
// holding subkeys and named values (val Name = s|d 'data'). Only string (s, written as REG_SZ)
// and number (d, REG_DWORD; decimal or 0x hex) data are understood. Unregistration deletes every
// key of the script with its subtree, except keys marked so. Marks before a key name:
//   NoRemove     the key stays on unregistration; only what the script lists below it goes
//   ForceRemove  registration deletes the key with all that is below it before writing it anew
//   Delete       registration deletes the key (with its subtree) and writes nothing there
// %NAME% is replaced from a table before the script is parsed; %% stands for a single %.
// The module stores its scripts as REGISTRY resources in code page 936.

// A script that does not follow the format, names an unknown root or an unknown replacement.
inline constexpr HRESULT kScriptSyntaxError =
    static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA

enum class ScriptRoot { ClassesRoot, LocalMachine, CurrentUser };
enum class KeyMark { None, NoRemove, ForceRemove, Delete };
enum class ScriptAction { Register, Unregister };

struct ScriptValue {
    std::wstring name;    // empty for the key's default value
    DWORD type = REG_SZ;  // REG_SZ or REG_DWORD
    std::wstring text;    // REG_SZ data
    DWORD number = 0;     // REG_DWORD data
};

struct ScriptKey {
    std::wstring name;
    KeyMark mark = KeyMark::None;
    std::vector<ScriptValue> values;  // in script order; the default value first when given
    std::vector<ScriptKey> subkeys;
};

struct ScriptRootBlock {
    ScriptRoot root = ScriptRoot::ClassesRoot;
    std::vector<ScriptKey> keys;
};

using RegistryScript = std::vector<ScriptRootBlock>;

// Replacement texts by name, without the percent signs. Names are case-sensitive.
using ScriptReplacements = std::map<std::wstring, std::wstring>;

// A key that a script root stands for: an open key (predefined or not) and a path below it,
// empty for the key itself.
struct RegistryLocation {
    HKEY key = nullptr;
    std::wstring subkey;
};

// Where the roots of a script go. Per machine each root is itself; per user, HKCR goes to
// HKEY_CURRENT_USER\Software\Classes and the other roots stay. Tests redirect the roots to
// scratch keys.
class RegistryRoots {
  public:
    static RegistryRoots PerMachine();
    static RegistryRoots PerUser();

    RegistryRoots& Redirect(ScriptRoot root, RegistryLocation location);
    const RegistryLocation& Location(ScriptRoot root) const;

  private:
    RegistryLocation locations_[3];
};

// Code page 936 text (up to its first NUL) into UTF-16; bytes that are no GBK text fail.
HRESULT ScriptTextToWide(std::string_view narrow, std::wstring& wide) noexcept;

// Replaces every %NAME% of the script.
HRESULT ExpandReplacements(std::wstring_view script, const ScriptReplacements& replacements,
                           std::wstring& expanded) noexcept;

// Parses an expanded script.
HRESULT ParseRegistryScript(std::wstring_view script, RegistryScript& parsed) noexcept;

// Writes or removes what a parsed script describes. Stops at the first registry failure and
// returns it as HRESULT_FROM_WIN32; a key that is already gone counts as removed.
HRESULT ApplyRegistryScript(const RegistryScript& script, const RegistryRoots& roots,
                            ScriptAction action) noexcept;

// All of the above for a narrow script: nothing is written unless the whole script parses.
HRESULT RunRegistryScript(std::string_view narrow, const ScriptReplacements& replacements,
                          const RegistryRoots& roots, ScriptAction action) noexcept;

// The bytes of REGISTRY resource `id` of a module.
HRESULT LoadRegistryScript(HMODULE module, UINT id, std::string& narrow) noexcept;

}  // namespace kvshake
