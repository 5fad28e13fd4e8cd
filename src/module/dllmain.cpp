// The module's exports for the COM runtime: load, unload and the class objects.
#include <windows.h>

#include <atomic>
#include <new>

#include "bho/panel_link.h"
#include "panel/panel_connection.h"
#include "KVShake_h.h"
#include "bho/shake_bho.h"
#include "com/class_factory.h"
#include "com/module.h"
#include "panel/ax_host_window.h"

namespace kvshake {
namespace {

// The class map: one creatable class. Its factory is made on first request and kept.
std::atomic<ClassFactory*> g_shakeBhoFactory{nullptr};

ClassFactory* ShakeBhoFactory() {
    ClassFactory* factory = g_shakeBhoFactory.load();
    if (factory) return factory;
    auto* created = new (std::nothrow) ClassFactory(CShakeBHO::CreateInstance);
    if (!created) return nullptr;
    if (g_shakeBhoFactory.compare_exchange_strong(factory, created)) return created;
    created->Release();  // another thread's factory won
    return factory;
}

void ReleaseClassFactories() {
    if (ClassFactory* factory = g_shakeBhoFactory.exchange(nullptr)) factory->Release();
}

}  // namespace
}  // namespace kvshake

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        kvshake::Module().SetInstance(instance);
        kvshake::ConnectPanel(&kvshake::ThePanelLink());
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary: the cached factories go, and the window class whose procedure
        // goes with the code. At process exit nothing is freed.
        kvshake::ReleaseClassFactories();
        kvshake::UnregisterAxHostClass();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return kvshake::Module().GetLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_ShakeBHO) return CLASS_E_CLASSNOTAVAILABLE;
    kvshake::ClassFactory* factory = kvshake::ShakeBhoFactory();
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(iid, object);
}
