// The compiler-specific spellings the program relies on, in one place, so that a port to another
// compiler touches this header alone. Every one of them is a GCC/Clang attribute or type.
#pragma once

// Inlined whatever the compiler's size heuristics say: in the pixel loops a call per texel or
// per conversion costs more than the work itself.
#define KRV_ALWAYS_INLINE inline __attribute__((always_inline))

// Kept out of line: a cold path (an error report, a rare fallback) must not bloat a hot caller.
#define KRV_NOINLINE __attribute__((noinline))

// A definition any other definition of the same name replaces at link time: the library's
// fallback for a function a program may supply itself.
#define KRV_WEAK __attribute__((weak))

// printf-style checking of a format argument (1-based positions, counting `this` for members).
#define KRV_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))

// Dynamic initialisation before the other units' globals (GCC orders priorities 101 and up
// before unprioritised ones).
#define KRV_INIT_PRIORITY(n) __attribute__((init_priority(n)))

// Code of one function built for an instruction set the rest of the program does not assume.
#define KRV_TARGET(isa) __attribute__((target(isa)))

// A GCC generic vector of the given element type and size in bytes: portable lane arithmetic
// without intrinsics.
#define KRV_VECTOR(bytes) __attribute__((vector_size(bytes)))

namespace krvi {

// 128-bit integers for products of two 64-bit values that must not overflow. __extension__
// keeps pedantic builds quiet about the non-standard type.
__extension__ typedef __int128 Int128;

}  // namespace krvi
