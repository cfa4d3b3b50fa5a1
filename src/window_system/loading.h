// Libraries a desktop's backend loads when it first needs them (json.cpp, sd_bus.cpp), so that a
// run loads those of its own desktop alone.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

inline void* LoadLibrary(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

// The end of a run that needs a library it cannot load: one line naming it and what it is for.
[[noreturn]] inline void CannotLoad(const char* name, const char* purpose)
{
    const char* why = dlerror();
    std::fprintf(stderr, "topleft: %s, %s, cannot be loaded%s%s.\n", name, purpose, why ? ": " : "", why ? why : "");
    std::exit(1);
}
