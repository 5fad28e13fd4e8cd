// DllRegisterServer, DllUnregisterServer and DllInstall: the registry scripts of the module's
// resources and its embedded type library.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cwchar>
#include <new>
#include <string>

#include "com/module.h"
#include "com/registrar.h"
#include "resources/resource.h"

namespace kvshake {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kAppId[] = L"{1EEED60E-0AD3-4740-989C-6CA268313F93}";

// Not declared by every SDK, and missing from oleaut32 before Windows Vista SP1.
using RegisterTypeLibForUserFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnRegisterTypeLibForUserFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

HRESULT FromLastError() noexcept {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

HRESULT GetModulePath(std::wstring& path) {
    path.assign(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(Module().Instance(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return FromLastError();
        if (length < path.size()) {
            path.resize(length);
            return S_OK;
        }
        path.resize(path.size() * 2);
    }
}

// The registry scripts quote their data, so a quote in the path has to be doubled.
std::wstring QuotedForScript(const std::wstring& text) {
    std::wstring quoted;
    for (const wchar_t c : text) {
        quoted += c;
        if (c == L'\'') quoted += L'\'';
    }
    return quoted;
}

// Registration runs in the system's default locale, and gives the thread its own back on every
// way out.
class SystemLocaleScope {
  public:
    SystemLocaleScope() noexcept : saved_(::GetThreadLocale()) {
        ::SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
    }
    ~SystemLocaleScope() { ::SetThreadLocale(saved_); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

  private:
    LCID saved_;
};

// What one registration or unregistration works with.
struct RegistrationContext {
    std::wstring modulePath;
    ScriptReplacements replacements;
    RegistryRoots roots;

    HRESULT Init() {
        const HRESULT hr = GetModulePath(modulePath);
        if (FAILED(hr)) return hr;
        replacements[L"MODULE"] = QuotedForScript(modulePath);
        replacements[L"APPID"] = kAppId;
        roots =
            Module().PerUserRegistration() ? RegistryRoots::PerUser() : RegistryRoots::PerMachine();
        return S_OK;
    }

    HRESULT RunScript(UINT id, ScriptAction action) const noexcept {
        std::string script;
        const HRESULT hr = LoadRegistryScript(Module().Instance(), id, script);
        return FAILED(hr) ? hr : RunRegistryScript(script, replacements, roots, action);
    }
};

// An entry of oleaut32 that only the per-user mode uses, looked up by name; null otherwise.
template <typename Function>
Function PerUserEntry(const char* name) noexcept {
    if (!Module().PerUserRegistration()) return nullptr;
    HMODULE oleaut = ::GetModuleHandleW(L"OLEAUT32.DLL");
    if (oleaut == nullptr) return nullptr;
    // Through the generic function pointer type, which converts to any other without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(oleaut, name)));
}

// The library's description of itself, given back when it goes.
class LibraryAttributes {
  public:
    explicit LibraryAttributes(ComPtr<ITypeLib> library) noexcept : library_(std::move(library)) {}
    ~LibraryAttributes() {
        if (attributes_ != nullptr) library_->ReleaseTLibAttr(attributes_);
    }
    LibraryAttributes(const LibraryAttributes&) = delete;
    LibraryAttributes& operator=(const LibraryAttributes&) = delete;

    HRESULT Load() noexcept { return library_->GetLibAttr(&attributes_); }
    const TLIBATTR& Get() const noexcept { return *attributes_; }

  private:
    ComPtr<ITypeLib> library_;
    TLIBATTR* attributes_ = nullptr;
};

HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    std::wstring path = modulePath;
    // The folder with its separator, as Windows Installer writes a folder: the MSI packages write
    // the same keys from their own tables.
    std::wstring helpDirectory = modulePath.substr(0, modulePath.find_last_of(L"\\/") + 1);
    auto registerLibrary = PerUserEntry<RegisterTypeLibForUserFn>("RegisterTypeLibForUser");
    if (registerLibrary == nullptr) registerLibrary = &::RegisterTypeLib;
    return registerLibrary(library.Get(), path.data(), helpDirectory.data());
}

HRESULT UnregisterTypeLibrary(const std::wstring& modulePath) {
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    LibraryAttributes attributes(library);
    hr = attributes.Load();
    if (FAILED(hr)) return hr;
    const TLIBATTR& about = attributes.Get();
    auto unregisterLibrary = PerUserEntry<UnRegisterTypeLibForUserFn>("UnRegisterTypeLibForUser");
    if (unregisterLibrary == nullptr) unregisterLibrary = &::UnRegisterTypeLib;
    return unregisterLibrary(about.guid, about.wMajorVerNum, about.wMinorVerNum, about.lcid,
                             about.syskind);
}

HRESULT RegisterModule() {
    SystemLocaleScope locale;
    RegistrationContext context;
    HRESULT hr = context.Init();
    if (SUCCEEDED(hr)) hr = context.RunScript(IDR_KVSHAKE, ScriptAction::Register);
    if (SUCCEEDED(hr)) hr = context.RunScript(IDR_SHAKEBHO, ScriptAction::Register);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(context.modulePath);
    return hr;
}

HRESULT UnregisterModule() {
    SystemLocaleScope locale;
    RegistrationContext context;
    HRESULT hr = context.Init();
    if (SUCCEEDED(hr)) hr = context.RunScript(IDR_SHAKEBHO, ScriptAction::Unregister);
    if (SUCCEEDED(hr)) hr = UnregisterTypeLibrary(context.modulePath);
    if (SUCCEEDED(hr)) hr = context.RunScript(IDR_KVSHAKE, ScriptAction::Unregister);
    return hr;
}

// Nothing thrown inside may leave through an export.
template <typename Body>
HRESULT Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace
}  // namespace kvshake

STDAPI DllRegisterServer() { return kvshake::Guarded(kvshake::RegisterModule); }

STDAPI DllUnregisterServer() { return kvshake::Guarded(kvshake::UnregisterModule); }

// regsvr32 /i[:"user"] [/n]: "user" (in any case, and nothing after it) registers for the
// current user only, and the module stays in that mode for the rest of the process. A failed
// installation takes back what it had written.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) {
    if (cmdLine != nullptr && ::_wcsnicmp(cmdLine, L"user", 5) == 0) {
        kvshake::Module().SetPerUserRegistration(true);
    }
    if (!install) return DllUnregisterServer();
    const HRESULT hr = DllRegisterServer();
    if (FAILED(hr)) DllUnregisterServer();
    return hr;
}
