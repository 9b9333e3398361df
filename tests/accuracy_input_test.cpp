// The accuracy reader against a second, independent reading of the same
// bytes, over a seeded stream of malformed inputs: random bytes, huge and
// signed numbers, signs without digits, long lines and NUL bytes. A sample of
// them also goes through the real program, which must either run correctly or
// refuse with the clear error.
#include "accuracy_input.hpp"
#include "process.hpp"
#include "reference_digits.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// What a "%d" reading of input means: the outcome, the value, and how many
// bytes it consumed (white space, sign and digits; the byte after them stays).
struct Expected {
    AccuracyInput::Outcome outcome;
    int32_t accuracy;
    size_t consumed;
};

Expected read_by_model(const std::string& input)
{
    const std::string space = " \t\n\v\f\r";
    size_t position = input.find_first_not_of(space);
    if (position == std::string::npos)
        return {AccuracyInput::Outcome::no_number, DEFAULT_ACCURACY, input.size()};
    bool negative = false;
    if (input[position] == '+' || input[position] == '-') {
        negative = input[position] == '-';
        ++position;
    }
    const size_t digits_start = position;
    while (position < input.size() && input[position] >= '0' && input[position] <= '9')
        ++position;
    if (position == digits_start)
        return {AccuracyInput::Outcome::no_number, DEFAULT_ACCURACY, position};

    // Compare as decimal strings, so that no arithmetic can overflow here.
    std::string digits = input.substr(digits_start, position - digits_start);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    const std::string largest = "2147483647";
    const bool too_large = digits.size() > largest.size() || (digits.size() == largest.size() && digits > largest);
    if (too_large)
        return {AccuracyInput::Outcome::too_large, DEFAULT_ACCURACY, position};
    if (negative && digits != "0")
        return {AccuracyInput::Outcome::negative, DEFAULT_ACCURACY, position};
    return {AccuracyInput::Outcome::number, std::stoi(digits), position};
}

std::string malformed_input(std::mt19937& random)
{
    const std::string pieces[] = {" ", "\n", "\t", "\r\n", "+", "-", "--", "+-", "0", "7", "4", "12",
                                  "2147483647", "2147483648", "99999999999", "abc", "x", std::string(1, '\0'),
                                  "\xff", "1e5", "0x10", ".5", "5000", "-0", "\v", "\f"};
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<size_t> piece(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<size_t> length(0, 40);
    std::string input;
    switch (kind(random)) {
    case 0:  // random bytes, NULs included
        for (size_t i = length(random); i > 0; --i)
            input += static_cast<char>(byte(random));
        break;
    case 1:  // pieces of numbers, signs and text in any order
        for (size_t i = length(random) / 4 + 1; i > 0; --i)
            input += pieces[piece(random)];
        break;
    case 2:  // a very long line: many blanks or many digits
        input = std::string(length(random) * 500, random() % 2 ? ' ' : '9') + "\n";
        break;
    default:  // a plausible number with noise around it
        input = std::string(length(random) % 5, '\n') + (random() % 3 ? "" : "-") +
                std::to_string(random() % 30000) + pieces[piece(random)];
    }
    return input;
}

}  // namespace

TEST(AccuracyInput, TwentyThousandMalformedInputsAreReadLikeTheModel)
{
    std::mt19937 random(4721);
    for (int trial = 0; trial < 20000; ++trial) {
        const std::string input = malformed_input(random);
        std::FILE* stream = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
        ASSERT_NE(stream, nullptr);
        const AccuracyInput got = read_accuracy(stream);
        const long consumed = std::ftell(stream);
        std::fclose(stream);

        const Expected expected = read_by_model(input);
        ASSERT_EQ(got.outcome, expected.outcome) << "trial " << trial;
        ASSERT_EQ(got.accuracy, expected.accuracy) << "trial " << trial;
        ASSERT_EQ(static_cast<size_t>(consumed), expected.consumed) << "trial " << trial;
    }
}

TEST(AccuracyInput, TheProgramRunsOrRefusesCleanlyOnMalformedInput)
{
    std::mt19937 random(239);
    for (int trial = 0; trial < 200; ++trial) {
        const std::string input = malformed_input(random);
        const Expected expected = read_by_model(input);
        if (expected.accuracy > 20000)
            continue;  // correct but slow; the reader test above covers it
        TempDir dir;
        const ProcessResult run = run_pi(dir.path(), input);
        ASSERT_EQ(run.signal, 0) << "trial " << trial;
        if (expected.outcome == AccuracyInput::Outcome::number ||
            expected.outcome == AccuracyInput::Outcome::no_number) {
            ASSERT_EQ(run.exit_status, 0) << "trial " << trial << ": " << run.errors;
            ASSERT_EQ(dir.read("Out.txt"), expected_result_file(size_t(expected.accuracy / 4 * 4)))
                << "trial " << trial;
        } else {
            ASSERT_EQ(run.exit_status, 1) << "trial " << trial;
            ASSERT_EQ(run.errors, "pi: accuracy must be a whole number of digits from 0 to 2147483647\n");
            ASSERT_FALSE(dir.exists("Out.txt"));
        }
    }
}
