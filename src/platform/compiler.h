// What the code asks of the compiler beyond standard C++, in one place. GCC
// and Clang give it with their attributes and built-ins, Microsoft's
// compiler with its own; MLFSORT_PORTABLE_BUILTINS takes the plain
// fallbacks where there are any, as a compiler with neither would, so that
// they are built and tested too.

#ifndef MLFSORT_PLATFORM_COMPILER_H_
#define MLFSORT_PLATFORM_COMPILER_H_

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

// Inlining made sure of either way: a failure address is the return address
// of a call that is never inlined, and a check that is always inlined calls
// from its own call site.
#if defined(__GNUC__) || defined(__clang__)
#define MLFSORT_NOINLINE __attribute__((noinline))
#define MLFSORT_ALWAYS_INLINE __attribute__((always_inline)) inline
// The code position just after the call of the running function.
#define MLFSORT_RETURN_ADDRESS() __builtin_return_address(0)
#elif defined(_MSC_VER)
#define MLFSORT_NOINLINE __declspec(noinline)
#define MLFSORT_ALWAYS_INLINE __forceinline
#define MLFSORT_RETURN_ADDRESS() _ReturnAddress()
#else
#error "failure addresses need a compiler that tells a call's return address"
#endif

namespace mlfsort {

// Asks for the cache line at `address` without waiting for it; a hint that
// a compiler without one drops.
inline void Prefetch(const void* address) {
#if defined(MLFSORT_PORTABLE_BUILTINS)
  static_cast<void>(address);
#elif defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
  _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
  static_cast<void>(address);
#endif
}

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_COMPILER_H_
