#include "panel/external.h"

#include <cwctype>
#include <new>

#include "bho/front_tab.h"
#include "bho/hidden_window.h"
#include "bho/panel_link.h"
#include "com/module.h"
#include "panel/page_routing.h"
#include "service/activation.h"

namespace kvshake {

namespace {

struct MemberName {
    const wchar_t* name;
    DISPID id;
};
constexpr MemberName kMembers[] = {
    {L"unbind", External::kUnbind},     {L"unActive", External::kUnActive},
    {L"goActive", External::kGoActive}, {L"goSetting", External::kGoSetting},
    {L"goLogin", External::kGoLogin},   {L"goReminder", External::kGoReminder},
};

// Names take part with their first 29 characters, compared without regard to case.
constexpr size_t kComparedCharacters = 29;

bool SameName(const wchar_t* name, const wchar_t* member) {
    for (size_t i = 0; i < kComparedCharacters; ++i) {
        if (std::towlower(name[i]) != std::towlower(member[i])) return false;
        if (name[i] == L'\0') return true;
    }
    return true;
}

DISPID MemberId(const wchar_t* name) {
    if (!name) return DISPID_UNKNOWN;
    for (const MemberName& member : kMembers) {
        if (SameName(name, member.name)) return member.id;
    }
    return DISPID_UNKNOWN;
}

}  // namespace

External* External::Create() noexcept { return new (std::nothrow) External(); }

External::External() noexcept { Module().Lock(); }

External::~External() { Module().Unlock(); }

STDMETHODIMP External::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IDispatch) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<IDispatch*>(this);
    return S_OK;
}

STDMETHODIMP_(ULONG) External::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) External::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP External::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP External::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

// The names are looked up in order and the first known one answers, with its id in its own place;
// the unknown names before it get DISPID_UNKNOWN, so an unknown name never leads to an action.
STDMETHODIMP External::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count > 0 && (!names || !ids)) return E_POINTER;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = MemberId(names[i]);
        if (ids[i] != DISPID_UNKNOWN) return S_OK;
    }
    return DISP_E_UNKNOWNNAME;
}

// Acts on the id alone and leaves everything else, the result included, as it came.
STDMETHODIMP External::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                              UINT*) {
    try {
        Perform(id);
    } catch (...) {
    }
    return S_OK;
}

void External::Perform(DISPID id) {
    switch (id) {
        case kUnbind:
            if (unbind(TheFrontTab())) ShowPanelPage(kLoginPage, kLoginUrl);
            break;
        case kGoActive:
            if (m_pOwner) m_pOwner->activate();
            break;
        case kUnActive:
            if (m_pOwner) m_pOwner->unActive();
            break;
        case kGoSetting:
            ShowPanelPage(kSettingsPage, kSettingsUrl);
            break;
        case kGoLogin:
            ShowPanelPage(kLoginPage, kLoginUrl);
            break;
        case kGoReminder:
            ShowPanelPage(kStatusPage, kStatusUrl);
            break;
    }
}

}  // namespace kvshake
