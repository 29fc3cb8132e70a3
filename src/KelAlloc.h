// The one door through which the core asks for heap memory. In a normal
// build each function is the standard call it wraps, inlined away. A build
// with KELMEM_ALLOC_FAULTS defined (the allocation-failure tests) counts the
// requests and refuses the one chosen, or every one from it on, so that each
// failure path of the core can be taken in turn. Blocks go back with
// std::free either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifdef KELMEM_ALLOC_FAULTS
#include <charconv>
#include <cstring>

struct KelAllocFaults {
    int64_t made;    // requests since the counter was last reset
    int64_t failAt;  // the first request refused, counted from 1; 0 refuses none
    bool persist;    // refuse every request after failAt as well
    int64_t refused; // requests refused since the last reset
};

// A program built on the faults core (kelmem_faults) takes its first
// refused request from KELMEM_ALLOC_FAIL_AT; unset or not a number: none.
inline int64_t kel_FailAtFromEnv() noexcept
{
    const char* text = std::getenv("KELMEM_ALLOC_FAIL_AT");
    int64_t n = 0;
    if (!text)
        return 0;
    // GCOVR_EXCL_BR_START: the branches of from_chars, inlined here
    std::from_chars(text, text + std::strlen(text), n);
    // GCOVR_EXCL_BR_STOP
    return n;
}

inline KelAllocFaults kel_allocFaults = {0, kel_FailAtFromEnv(), false, 0};

// Counts a request; true when it is to be refused.
inline bool kel_AllocRefused()
{
    KelAllocFaults& f = kel_allocFaults;
    f.made++;
    bool refuse = f.failAt > 0 && (f.made == f.failAt || (f.persist && f.made > f.failAt));
    if (refuse)
        f.refused++;
    return refuse;
}
#endif

// Each wrapper has one body in both builds, so that coverage from the two
// builds lines up.
inline void* kel_Malloc(size_t bytes)
{
#ifdef KELMEM_ALLOC_FAULTS
    if (kel_AllocRefused())
        return nullptr;
#endif
    return std::malloc(bytes);
}

inline void* kel_Calloc(size_t num, size_t bytes)
{
#ifdef KELMEM_ALLOC_FAULTS
    if (kel_AllocRefused())
        return nullptr;
#endif
    return std::calloc(num, bytes);
}

// On nullptr the block is untouched and still the caller's, as with realloc.
inline void* kel_Realloc(void* block, size_t bytes)
{
#ifdef KELMEM_ALLOC_FAULTS
    if (kel_AllocRefused())
        return nullptr;
#endif
    return std::realloc(block, bytes);
}
