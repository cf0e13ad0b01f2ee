#include <pthread.h>

#include "thread_name.h"

namespace shell {

void NameThisThread(const char* name) {
#if defined(__linux__)
    // Linux keeps at most 15 characters and refuses a longer name.
    pthread_setname_np(pthread_self(), name);
#else
    (void)name;
#endif
}

}  // namespace shell
