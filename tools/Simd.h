// Simd.h - whether the program's SSE2 blocks are built.  They are wherever
// the compiler targets SSE2 (every x86-64 build); a build with
// CORVANE_NO_SIMD leaves them out, as a build for a processor without them
// would, so that the portable steps are built and tested on this machine too.
#ifndef CORVANE_TOOLS_SIMD_H
#define CORVANE_TOOLS_SIMD_H

#if defined(__SSE2__) && !defined(CORVANE_NO_SIMD)
#define CORVANE_SIMD 1
#include <emmintrin.h>
#endif

#endif
