#pragma once

#include <windows.h>

#include <memory>
#include <new>
#include <utility>

#include "foundation/log.h"

namespace kvshake {

namespace module_thread_internal {

template <typename Work>
struct Start {
    Work work;
    HMODULE module;

    static DWORD WINAPI Run(LPVOID parameter) {
        std::unique_ptr<Start> start(static_cast<Start*>(parameter));
        const HMODULE module = start->module;
        try {
            start->work();
        } catch (...) {
            WriteError("A thread of the module ended on an exception");
        }
        start.reset();  // what the work kept alive goes before the module reference
        ::FreeLibraryAndExitThread(module, 1);
        return 1;
    }
};

}  // namespace module_thread_internal

// Starts a thread that runs work and keeps the module that holds this code loaded until the
// thread has returned: it holds a reference on the module and gives it back as its very last
// step, so an unload can never pull the code from under it. Nothing the work throws leaves the
// thread. flags as for CreateThread (CREATE_SUSPENDED). Returns the thread handle (null on
// failure, when work is dropped unrun) and its id.
template <typename Work>
HANDLE StartModuleThread(Work work, DWORD* threadId, DWORD flags = 0) {
    using Start = module_thread_internal::Start<Work>;
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&Start::Run), &module)) {
        return nullptr;
    }
    auto* start = new (std::nothrow) Start{std::move(work), module};
    HANDLE thread =
        start ? ::CreateThread(nullptr, 0, Start::Run, start, flags, threadId) : nullptr;
    if (!thread) {
        delete start;
        ::FreeLibrary(module);
    }
    return thread;
}

}  // namespace kvshake
