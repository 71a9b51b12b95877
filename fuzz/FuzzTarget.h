#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every fuzz target file provides: libFuzzer's entry point, run once per
// input. It returns 0, or -1 for an input the target cannot take: newer
// libFuzzers then leave it out of the corpus; clang 14's treats it as 0.
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size);

// A broken property ends the run the way a crash does, so libFuzzer keeps the
// input that broke it as a crash file, and replaying that file shows the message.
#define FUZZ_CHECK(condition, message)                                                              \
    do                                                                                              \
    {                                                                                               \
        if (! (condition))                                                                          \
        {                                                                                           \
            std::fprintf (stderr, "fuzz check failed: %s\n  (%s at %s:%d)\n", message, #condition,  \
                          __FILE__, __LINE__);                                                      \
            std::abort();                                                                           \
        }                                                                                           \
    } while (false)
