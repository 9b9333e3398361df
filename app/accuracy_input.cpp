// The accuracy reader. Digits are gathered in 64 bits and checked against the
// 32-bit range as they arrive, so even a thousand-digit number is read to its
// end and refused cleanly instead of wrapping around.
#include "accuracy_input.hpp"

#include <cctype>

AccuracyInput read_accuracy(std::FILE* input)
{
    int c = std::getc(input);
    while (c != EOF && std::isspace(c))
        c = std::getc(input);

    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(input);
    }

    bool any_digit = false;
    bool too_large = false;
    int64_t magnitude = 0;
    for (; c != EOF && std::isdigit(c); c = std::getc(input)) {
        any_digit = true;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > INT32_MAX) {
            too_large = true;
            magnitude = INT32_MAX;  // keep reading the digits, keep the value bounded
        }
    }
    if (c != EOF)
        std::ungetc(c, input);

    if (!any_digit)
        return {AccuracyInput::Outcome::no_number, DEFAULT_ACCURACY};
    if (too_large)
        return {AccuracyInput::Outcome::too_large, DEFAULT_ACCURACY};
    if (negative && magnitude != 0)
        return {AccuracyInput::Outcome::negative, DEFAULT_ACCURACY};
    return {AccuracyInput::Outcome::number, static_cast<int32_t>(magnitude)};
}
