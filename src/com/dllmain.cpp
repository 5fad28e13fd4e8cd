#include <windows.h>

// The module's entry point. Per-process set-up has nothing to do yet: the shared blocks are
// mapped and zeroed by the loader.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
    return TRUE;
}
