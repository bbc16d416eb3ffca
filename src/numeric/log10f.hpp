// log10 of float arrays, bit for bit the C library's log10f, on the widest vector path this
// CPU runs. Before its first use a path is checked against the library on a probe set
// (random values over the whole range, values near 1, subnormals, powers of two, known hard
// cases); a path that differs anywhere is never used and the library is called instead, so a
// platform whose log10f computes differently still gets the library's results.
#pragma once

#include <cstddef>
#include <vector>

#include "numeric/cpu_features.hpp"

namespace zentrova::numeric {

using Log10fKernel = void (*)(const float* in, float* out, std::size_t n) noexcept;

// out[i] = ::log10f(in[i]) bit for bit, for any n. in == out is allowed; other overlaps are
// not. Inputs <= 0, subnormal, infinite or NaN are handed to the library. The first call
// (or force_path) picks and checks the path; later calls only load a pointer.
void log10f_array(const float* in, float* out, std::size_t n) noexcept;

// The path log10f_array uses now: the requested one (see dispatch_path()) if it passed its
// check, else Scalar (the library's calls).
KernelPath active_path() noexcept;

// For tests: pin every kernel to this path (set_path_override) and check log10f on it.
// Returns true if log10f_array now runs this path; false if this CPU cannot run it (nothing
// changes) or if log10f on it failed the check (log10f_array then calls the library).
bool force_path(KernelPath path) noexcept;

// Drop a forced path: back to the widest path, checked as on first use.
void reset_path() noexcept;

// Runs exactly this path's kernel, unchecked, for tools and tests that compare paths.
// Returns false, writing nothing, if this build or CPU cannot run it.
bool log10f_array_on(KernelPath path, const float* in, float* out, std::size_t n) noexcept;

// The first-use check: true if the kernel gives the library's bits on the whole probe set,
// in place and out of place.
bool matches_library(Log10fKernel kernel) noexcept;

}  // namespace zentrova::numeric
