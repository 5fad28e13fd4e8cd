#include "foundation/shared_state.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <memory>
#include <vector>

#include "foundation/log.h"
#include "foundation/text.h"

namespace kvshake {

MutexHolders mutex_holders = {};

namespace {

// What the user's tabs need of the block, also at low integrity (Protected Mode). Windows XP
// knows no integrity label and refuses the first form; the second serves it.
constexpr const wchar_t* kLabelForms[] = {L"S:(ML;;NW;;;LW)", L""};
constexpr DWORD kBlockRights = FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL;

struct LocalFreeSid {
    void operator()(PSID sid) const noexcept { ::LocalFree(sid); }
};

// Only the user may own the block, and only the user may be granted anything in it.
bool OnlyTheUserHasIt(HANDLE mapping, PSID user, std::string& why) noexcept {
    PSID owner = nullptr;
    PACL access = nullptr;
    unique_hlocal descriptor;
    const DWORD error = ::GetSecurityInfo(
        mapping, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
        nullptr, &access, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (error != ERROR_SUCCESS) {
        why = StringPrintf("its security cannot be read, Error Code:%d", static_cast<int>(error));
        return false;
    }
    if (!owner || !::EqualSid(owner, user)) {
        why = "another owner";
        return false;
    }
    if (!access) {
        why = "no access list";
        return false;
    }
    for (DWORD i = 0; i < access->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(access, i, reinterpret_cast<void**>(&header))) {
            why = "unreadable access list";
            return false;
        }
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !::EqualSid(const_cast<DWORD*>(&allowed->SidStart), user)) {
            why = "access granted to others";
            return false;
        }
    }
    return true;
}

HMODULE ThisImage() noexcept {
    HMODULE image = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&mutex_holders), &image);
    return image;
}

enum : LONG { kNotOpened, kOpening, kOpened };

// The process's block: opened once, by whichever thread needs it first; the others wait for it.
// It goes when the module unloads; a late user then finds the process's own block.
struct ProcessBlock {
    std::atomic<LONG> state{kNotOpened};
    SharedBlock* block = nullptr;
    SharedBlock own = {};
    SharedBlockMapping mapping;

    SharedBlock& Get() noexcept {
        if (state.load(std::memory_order_acquire) != kOpened) Open();
        return *block;
    }
    void Open() noexcept {
        LONG expected = kNotOpened;
        if (!state.compare_exchange_strong(expected, kOpening)) {
            while (state.load(std::memory_order_acquire) != kOpened) ::Sleep(1);
            return;
        }
        try {
            const std::wstring sid = CurrentUserSid();
            mapping = SharedBlockMapping::Open(SharedBlockName(sid, ThisImage()), sid);
        } catch (...) {
        }
        block = mapping.Block() ? mapping.Block() : &own;
        state.store(kOpened, std::memory_order_release);
    }
    ~ProcessBlock() { block = &own; }
};

ProcessBlock g_processBlock;

}  // namespace

SharedBlock& SharedState() noexcept { return g_processBlock.Get(); }

std::wstring CurrentUserSid() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
    const unique_handle token(rawToken);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
        return {};
    }
    unique_hlocal text;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid,
                                  reinterpret_cast<wchar_t**>(text.put()))) {
        return {};
    }
    return static_cast<const wchar_t*>(text.get());
}

std::wstring SharedBlockName(const std::wstring& userSid, HMODULE image) {
    std::wstring name =
        L"Local\\KVShakeMachineRun." + std::to_wstring(kSharedBlockLayout) + L"." + userSid;
#ifdef KVSHAKE_TEST_BUILD
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(image, path, MAX_PATH);
    std::wstring base = path;
    base.erase(0, base.find_last_of(L"\\/") + 1);
    base.erase(std::min(base.find(L'.'), base.size()));
    for (wchar_t& c : base) c = static_cast<wchar_t>(std::towlower(c));
    name += L".test-" + base;
#else
    static_cast<void>(image);
#endif
    return name;
}

// The user is granted every right of a section (SECTION_ALL_ACCESS), spelt out: a generic right
// is kept unmapped by some systems and read back as such.
unique_hlocal SharedBlockSecurity(const std::wstring& userSid) noexcept {
    unique_hlocal descriptor;
    try {
        for (const wchar_t* label : kLabelForms) {
            const std::wstring form =
                L"O:" + userSid + L"D:P(A;;0xf001f;;;" + userSid + L")" + label;
            if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    form.c_str(), SDDL_REVISION_1, descriptor.put(), nullptr)) {
                break;
            }
        }
    } catch (...) {
    }
    return descriptor;
}

SharedBlockMapping SharedBlockMapping::Open(const std::wstring& name,
                                            const std::wstring& userSid) noexcept {
    SharedBlockMapping result;
    PSID rawUser = nullptr;
    if (userSid.empty() || !::ConvertStringSidToSidW(userSid.c_str(), &rawUser)) {
        WriteError(StringPrintf("Shared block not opened, no user, Error Code:%d",
                                static_cast<int>(::GetLastError())));
        return result;
    }
    const std::unique_ptr<void, LocalFreeSid> user(rawUser);
    unique_handle mapping(::OpenFileMappingW(kBlockRights, FALSE, name.c_str()));
    if (!mapping) {
        const unique_hlocal descriptor = SharedBlockSecurity(userSid);
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
        mapping.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                           sizeof(SharedBlock), name.c_str()));
    }
    if (!mapping) {
        WriteError(StringPrintf("Shared block not opened, Error Code:%d",
                                static_cast<int>(::GetLastError())));
        return result;
    }
    std::string why;
    if (!OnlyTheUserHasIt(mapping.get(), user.get(), why)) {
        WriteError("Shared block refused, " + why);
        return result;
    }
    result.view_.reset(
        ::MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(SharedBlock)));
    if (!result.view_) {
        WriteError(StringPrintf("Shared block not mapped, Error Code:%d",
                                static_cast<int>(::GetLastError())));
        return result;
    }
    result.mapping_ = std::move(mapping);
    return result;
}

}  // namespace kvshake
