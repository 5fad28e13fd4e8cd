#pragma once

#include <ocidl.h>
#include <windows.h>

namespace kvshake {

// Subscribes sink to the source's connection point for the events interface iid.
[[nodiscard]] HRESULT AdviseEvents(IUnknown* source, IUnknown* sink, REFIID iid,
                                   DWORD* cookie) noexcept;
HRESULT UnadviseEvents(IUnknown* source, REFIID iid, DWORD cookie) noexcept;

}  // namespace kvshake
