// Loading the driver library by file name, looking its functions up by name and unloading it:
// the operating system's calls behind the driver binding, free of Qt so that the binding also
// builds for Windows on its own (library_loader_posix.cpp, library_loader_win32.cpp).
#pragma once

#include <span>

namespace shell::loader {

using Handle = void*;

// The driver library's file names on this system in the order they are tried: the versioned
// libLumenord.so.1 of an install, then the libLumenord.so link of a build tree; Lumenord.dll.
extern const std::span<const char* const> kDriverFileNames;

// Null when the file cannot be loaded.
Handle Open(const char* path);
// Null when the library has no such name (or `library` is null).
void* Resolve(Handle library, const char* name);
void Close(Handle library);

}  // namespace shell::loader
