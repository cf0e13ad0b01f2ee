#include <dlfcn.h>

#include "library_loader.h"

namespace shell::loader {

const char* const kDriverFileName = "libLumenord.so";

Handle Open(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* Resolve(Handle library, const char* name) {
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void Close(Handle library) {
    if (library != nullptr) dlclose(library);
}

}  // namespace shell::loader
