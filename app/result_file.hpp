// The result file "Out.txt": the integer part, a point, then the fraction
// limbs as four-digit groups, 25 groups (100 digits) to a line.
#pragma once

#include "file_replace.hpp"

#include <cstdint>
#include <string>

inline constexpr const char* RESULT_FILE_NAME = "Out.txt";

// The result's text for limb_count limbs: its bytes with '\n' line ends, and
// how many line ends it holds. Limb 0, the integer part, is one digit.
struct ResultSize {
    int64_t text_bytes;
    int64_t line_ends;
};
ResultSize result_size(int32_t limb_count);

// The most bytes write_result holds beyond the limbs: one piece of text and,
// on Windows, its copy with CR LF line ends.
inline constexpr int64_t RESULT_WRITE_BYTES = int64_t{256} << 10;

// Appends the groups of limbs [begin, end) of total (begin >= 1), each
// followed by the line end that ends its line if it is the 25th of one.
void append_result_groups(std::string& text, const int32_t* total, int32_t begin, int32_t end);

// "Out.txt" in the current directory, made ready before the computation for
// a result of limb_count limbs: created beside the old file and its bytes
// reserved, so that a file that cannot be written is told before the work
// (see FileReplacement). Throws FileError.
FileReplacement reserve_result(int32_t limb_count);

// Writes the first limb_count limbs of total into the reserved file in
// pieces of bounded size, and puts it in place of any old file. Throws
// FileError.
void write_result(FileReplacement& file, int32_t limb_count, const int32_t* total);
