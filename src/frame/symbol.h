// Attaching exported names that hold dots, colons and spaces.
#pragma once

// GCC writes an asm label into the assembly as it stands, so such a name
// must carry its own quotes; clang quotes it itself and would keep ours as
// part of the name.
#if defined(__clang__)
#define OROVOX_SYMBOL(name) __asm__(name)
#else
#define OROVOX_SYMBOL(name) __asm__("\"" name "\"")
#endif

#define OROVOX_EXPORT __attribute__((visibility("default")))
