#pragma once

// The block kernels for x86-64 processors that have the instructions; the program itself is
// built for baseline x86-64 and picks one at run time.

#include "squeezer.h"

#if defined(__x86_64__) || defined(_M_X64)
#define VELLORK_HAVE_X86_PATHS 1
#else
#define VELLORK_HAVE_X86_PATHS 0
#endif

namespace vellork {

#if VELLORK_HAVE_X86_PATHS
std::size_t squeezeBlocksAvx2(const unsigned char* in, std::size_t blocks, char* out,
                              SqueezeState& state);
std::size_t squeezeBlocksAvx512Vbmi2(const unsigned char* in, std::size_t blocks, char* out,
                                     SqueezeState& state);
#endif

}  // namespace vellork
