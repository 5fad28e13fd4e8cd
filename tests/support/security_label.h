#pragma once

#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <string>

#include "foundation/unique_resource.h"

namespace kvshake::testing {

// That a security descriptor carries one integrity label: low, no write up. Wine keeps no label
// on its objects, so tests read it from the descriptor that the module makes.
inline ::testing::AssertionResult HasLowNoWriteUpLabel(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE, defaulted = FALSE;
    ACL* sacl = nullptr;
    void* ace = nullptr;
    if (!::GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) || !sacl ||
        sacl->AceCount != 1 || !::GetAce(sacl, 0, &ace)) {
        return ::testing::AssertionFailure() << "no single label entry";
    }
    const auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    unique_hlocal sid;
    if (!::ConvertSidToStringSidW(const_cast<DWORD*>(&label->SidStart),
                                  reinterpret_cast<wchar_t**>(sid.put()))) {
        return ::testing::AssertionFailure() << "unreadable label";
    }
    const std::wstring level = static_cast<wchar_t*>(sid.get());
    if (label->Header.AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE ||
        label->Mask != SYSTEM_MANDATORY_LABEL_NO_WRITE_UP || level != L"S-1-16-4096") {
        return ::testing::AssertionFailure()
               << "label type " << int{label->Header.AceType} << ", mask " << label->Mask;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace kvshake::testing
