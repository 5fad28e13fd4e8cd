#pragma once

#include <windows.h>

#include <cstddef>

#include "foundation/unique_resource.h"

namespace kvshake {

// A block of read-write memory in another process, given back when the object goes.
class RemoteBlock {
  public:
    RemoteBlock(HANDLE process, size_t size) noexcept
        : process_(process),
          address_(
              ::VirtualAllocEx(process, nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)),
          size_(size) {}
    ~RemoteBlock() {
        if (address_) ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    explicit operator bool() const noexcept { return address_ != nullptr; }
    LPARAM Address() const noexcept { return reinterpret_cast<LPARAM>(address_); }

    // Whole reads and writes only, never past the block.
    bool Write(const void* data, size_t size) const noexcept {
        SIZE_T done = 0;
        return size <= size_ && ::WriteProcessMemory(process_, address_, data, size, &done) &&
               done == size;
    }
    bool Read(void* data, size_t size) const noexcept {
        SIZE_T done = 0;
        return size <= size_ && ::ReadProcessMemory(process_, address_, data, size, &done) &&
               done == size;
    }

  private:
    HANDLE process_;
    void* address_;
    size_t size_;
};

}  // namespace kvshake
