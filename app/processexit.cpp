#include "processexit.h"

#include <cstdio>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define SORVANTO_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SORVANTO_LEAK_CHECK 1
#endif
#endif

#ifdef SORVANTO_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

void ProcessExit::leave(int code)
{
#ifdef SORVANTO_LEAK_CHECK
    __lsan_do_leak_check(); // ends the process itself when it finds a leak
#endif
    std::fflush(nullptr);
    _exit(code);
}
