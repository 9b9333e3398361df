// Reading the accuracy the way a "%d" conversion does, without its undefined
// behaviour on numbers that do not fit.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr int32_t DEFAULT_ACCURACY = 5000;

struct AccuracyInput {
    enum class Outcome { number, no_number, negative, too_large };
    Outcome outcome;
    int32_t accuracy;  // the number read, or DEFAULT_ACCURACY when there is none
};

// Skips white space (line ends included), then reads an optional sign and
// decimal digits. The first character that is not part of the number stays in
// the stream, as with scanf. Input without a number gives the default.
AccuracyInput read_accuracy(std::FILE* input);
