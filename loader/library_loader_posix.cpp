#include <dlfcn.h>

#include "library_loader.h"

namespace shell::loader {

namespace {
const char* const kNames[] = {"libLumenord.so.1", "libLumenord.so"};
}  // namespace

const std::span<const char* const> kDriverFileNames = kNames;

Handle Open(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* Resolve(Handle library, const char* name) {
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void Close(Handle library) {
    if (library != nullptr) dlclose(library);
}

}  // namespace shell::loader
