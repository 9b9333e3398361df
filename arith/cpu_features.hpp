// The vector instruction sets this CPU runs, decided once at run time. Code
// for the wider sets is built into every x86-64 binary (functions with a
// target attribute in files built for the baseline) and is called only where
// these functions say the CPU, and the operating system that must save its
// registers, support it. Nothing is chosen at build time.
#pragma once

// The instruction sets the fast paths are written for, narrowest first.
enum class VectorIsa {
    portable,  // the baseline of the target: plain C++ that the compiler vectorises
    avx2,      // AVX2 with FMA
    avx512,    // AVX-512 F, DQ, VL and BW
};

// Whether this CPU runs isa; portable always.
bool cpu_runs(VectorIsa isa);

// Whether this CPU runs AVX-512 IFMA (52-bit integer multiply-adds) beside
// the AVX-512 of VectorIsa::avx512.
bool cpu_runs_avx512_ifma();

// The widest isa this CPU runs.
VectorIsa best_vector_isa();

const char* vector_isa_name(VectorIsa isa);
