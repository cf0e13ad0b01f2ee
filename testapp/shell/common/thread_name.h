// Naming the calling thread, so that debuggers and process lists show what it is for.
#pragma once

namespace shell {

// Names the calling thread; a system that has no thread names, or refuses this one, keeps none.
void NameThisThread(const char* name);

}  // namespace shell
