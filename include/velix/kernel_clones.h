// The loops that carry the heavy work (the dense kernels of the
// numerical library, the host's sums over the observations) are compiled
// once per level of the x86-64 vector extensions (AVX-512, AVX2 with FMA,
// the SSE2 baseline) and the loader picks the one the processor runs;
// elsewhere they are compiled once for the target.  Every level does the
// same arithmetic in the same order: the build contracts no product and
// sum into one fused rounding (-ffp-contract=off, CMakeLists.txt), which
// only the AVX2 and AVX-512 clones could do, so that a fit gives the same
// bits on every processor.  VELIX_BASELINE_KERNELS compiles the baseline
// alone: the tests' second command (velix_baseline) runs what a processor
// without AVX2 runs, on any processor.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__) && \
    !defined(VELIX_BASELINE_KERNELS)
#define VELIX_KERNEL_CLONES \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VELIX_KERNEL_CLONES
#endif
