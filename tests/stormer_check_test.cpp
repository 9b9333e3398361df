// stormer_check, the second formula's word on a result file: its reader
// against the layouts the program may write and the ones it never does, and
// the built tool as a process on files made from the reference digits.
#include "process.hpp"
#include "reference_digits.hpp"
#include "result_file_reader.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string stormer_check_binary() { return STORMER_CHECK_BINARY; }

// expected_result_file's text with CR LF line ends.
std::string with_crlf(const std::string& text)
{
    std::string converted;
    for (char character : text) {
        if (character == '\n')
            converted += '\r';
        converted += character;
    }
    return converted;
}

// Every decimal the reader gives, in pieces of capacity.
std::string read_all_decimals(const std::string& path, size_t capacity)
{
    ResultFileReader reader(path);
    std::string decimals;
    std::vector<char> piece(capacity);
    while (const size_t count = reader.read_decimals(piece.data(), piece.size()))
        decimals.append(piece.data(), count);
    return decimals;
}

// What the reader says of the file's text: "" where it takes the whole.
std::string layout_error(const std::string& text)
{
    const TempDir dir;
    dir.write("Out.txt", text);
    try {
        read_all_decimals(dir.file("Out.txt"), 64);
    } catch (const ResultFileError& error) {
        return error.what();
    }
    return "";
}

ProcessResult run_stormer_check(const std::vector<std::string>& arguments)
{
    std::vector<std::string> command{stormer_check_binary()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_process(command, ProcessOptions{});
}

}  // namespace

TEST(StormerCheck, ReaderTakesEveryLayoutTheProgramMayWrite)
{
    // No decimals, a short last line, full last lines (where the program's
    // last line end leaves an empty line), each with LF and CR LF, with and
    // without the last line end; read in pieces that split lines and CR LF.
    const TempDir dir;
    for (size_t decimal_count : {size_t{0}, size_t{4}, size_t{100}, size_t{104}, size_t{200}, size_t{1000}}) {
        const std::string decimals = reference_decimals().substr(0, decimal_count);
        const std::string program_text = expected_result_file(decimal_count);
        const std::string without_last_end = program_text.substr(0, program_text.size() - 1);
        std::vector<std::string> texts = {program_text, with_crlf(program_text), without_last_end,
                                          with_crlf(without_last_end)};
        // An empty line after a short last line too.
        if (decimal_count % 100 != 0)
            texts.push_back(program_text + "\n");
        for (const std::string& text : texts) {
            dir.write("Out.txt", text);
            EXPECT_EQ(count_result_file_decimals(dir.file("Out.txt")), int64_t(decimal_count)) << text;
            for (size_t capacity : {size_t{1}, size_t{3}, size_t{100}, size_t{1} << 20})
                EXPECT_EQ(read_all_decimals(dir.file("Out.txt"), capacity), decimals) << text;
        }
    }
}

TEST(StormerCheck, ReaderNamesTheLineThatBreaksTheLayout)
{
    const std::string line = reference_decimals().substr(0, 100);
    const std::string next_line = reference_decimals().substr(100, 100);
    EXPECT_NE(layout_error(""), "");
    EXPECT_NE(layout_error("3"), "");
    EXPECT_NE(layout_error("3,14\n").find("does not begin with \"3.\""), std::string::npos);
    EXPECT_NE(layout_error("3." + line + "5\n").find("line 1: more than 100 decimals"), std::string::npos);
    EXPECT_NE(layout_error("3.1415\n9265\n").find("line 2: more decimals after line 1, which holds 4"),
              std::string::npos);
    EXPECT_NE(layout_error("3." + line + "\n\n" + next_line + "\n").find("line 3: more decimals after the empty line 2"),
              std::string::npos);
    EXPECT_NE(layout_error("3." + line + "\n\n\n").find("line 3: an empty line after the final empty line"),
              std::string::npos);
    EXPECT_NE(layout_error("3.14 15\n").find("line 1: ' ' where a decimal or a line end belongs"), std::string::npos);
    EXPECT_NE(layout_error("3." + line + "\n14\x01" "5\n").find("line 2: the byte 0x01"), std::string::npos);
    EXPECT_NE(layout_error("3.1415\r9265\n").find("line 1: a carriage return without a line feed"),
              std::string::npos);
    EXPECT_NE(layout_error("3.1415\r").find("a carriage return without a line feed at the end"), std::string::npos);
    EXPECT_NE(layout_error("3.1415\n\r\r\n").find("line 2: a carriage return without a line feed"),
              std::string::npos);
}

TEST(StormerCheck, VouchesForTheReferenceDigits)
{
    // 100,000 decimals as the program writes them; a few with CR LF line
    // ends; none at all.
    const TempDir dir;
    const std::vector<std::pair<size_t, std::string>> files = {
        {100000, expected_result_file(100000)}, {2000, with_crlf(expected_result_file(2000))}, {0, "3.\n"}};
    for (const auto& [decimal_count, text] : files) {
        dir.write("Out.txt", text);
        const ProcessResult result = run_stormer_check({dir.file("Out.txt")});
        EXPECT_EQ(result.exit_status, 0) << result.output << result.errors;
        EXPECT_EQ(result.output.rfind("stormer_check: " + std::to_string(decimal_count) + " decimals of " +
                                          dir.file("Out.txt") + " agree with Størmer's formula (computed in ",
                                      0),
                  0u)
            << result.output;
        EXPECT_EQ(result.errors, "");
    }
}

TEST(StormerCheck, NamesTheFirstDecimalThatDiffers)
{
    // The first decimal, the last, two changed (the first named), and one in
    // the second chunk of the 2^20 decimals compared at a time.
    struct Change {
        size_t decimal_count;
        std::vector<size_t> decimals;
    };
    const TempDir dir;
    for (const Change& change : {Change{1000, {1}}, Change{1000, {1000}}, Change{1000, {500, 900}},
                                 Change{1100000, {1048577}}}) {
        std::string text = expected_result_file(change.decimal_count);
        for (size_t decimal : change.decimals) {
            // "3." and a line end for every full line before it.
            const size_t offset = 2 + decimal - 1 + (decimal - 1) / 100;
            text[offset] = static_cast<char>('0' + (text[offset] - '0' + 5) % 10);
        }
        dir.write("Out.txt", text);
        const ProcessResult result = run_stormer_check({dir.file("Out.txt")});
        EXPECT_EQ(result.exit_status, 1) << result.output << result.errors;
        EXPECT_NE(result.output.find(dir.file("Out.txt") + " differs from Størmer's formula at decimal " +
                                     std::to_string(change.decimals[0]) + " ("),
                  std::string::npos)
            << result.output;
    }
}

TEST(StormerCheck, WidensItsGuardWhereTheErrorBoundLeavesTheCutInDoubt)
{
    // Decimals 765 to 768 are 9998, the end of the six 9s from decimal 762:
    // one guard limb there leaves the limb before it in doubt. The tool says
    // so, computes again with two, and vouches only then.
    const TempDir dir;
    dir.write("Out.txt", expected_result_file(764));
    const ProcessResult result = run_stormer_check({"--guard-limbs", "1", dir.file("Out.txt")});
    EXPECT_EQ(result.exit_status, 0) << result.output << result.errors;
    EXPECT_NE(result.errors.find("decimals 765 to 768 of the formula's pi lie so near a run of 9s or 0s that its "
                                 "error bound leaves the decimals up to 764 in doubt; again with 2 guard limbs"),
              std::string::npos)
        << result.errors;
    EXPECT_NE(result.output.find("764 decimals of " + dir.file("Out.txt") + " agree with Størmer's formula"),
              std::string::npos)
        << result.output;
}

TEST(StormerCheck, RefusesWhatIsNotAResultFile)
{
    const TempDir dir;
    dir.write("Out.txt", expected_result_file(1002));
    ProcessResult result = run_stormer_check({dir.file("Out.txt")});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.errors.find("1002 decimals, not a whole number of 4-decimal limbs"), std::string::npos)
        << result.errors;

    dir.write("Out.txt", "3.1415\n9265\n");
    result = run_stormer_check({dir.file("Out.txt")});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.errors.find("line 2: more decimals after line 1"), std::string::npos) << result.errors;

    result = run_stormer_check({dir.file("Missing.txt")});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.errors.find("cannot open " + dir.file("Missing.txt")), std::string::npos) << result.errors;

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"a", "b"}, {"--guard-limbs", "0", dir.file("Out.txt")}}) {
        result = run_stormer_check(arguments);
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_NE(result.errors.find("usage:"), std::string::npos) << result.errors;
    }
}
