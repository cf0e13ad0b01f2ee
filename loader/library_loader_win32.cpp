#include <windows.h>

#include "library_loader.h"

namespace shell::loader {

namespace {
const char* const kNames[] = {"Lumenord.dll"};
}  // namespace

const std::span<const char* const> kDriverFileNames = kNames;

Handle Open(const char* path) {
    // A missing DLL is reported to the caller, not in a dialog box of the system's.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(path);
    SetErrorMode(previous);
    return reinterpret_cast<Handle>(module);
}

void* Resolve(Handle library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void Close(Handle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace shell::loader
