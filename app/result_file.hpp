// The result file "Out.txt": the integer part, a point, then the fraction
// limbs as four-digit groups, 25 groups (100 digits) to a line.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* RESULT_FILE_NAME = "Out.txt";

// The text of the result file for limb_count limbs of total.
std::string format_result(int32_t limb_count, const int32_t* total);

// Writes the first limb_count limbs of total to "Out.txt" in the current
// directory, replacing any old file only once the new one is complete; a
// symbolic link is followed to the file it names, and a FIFO or device is
// written directly (see replace_file). Throws FileError.
void write_result(int32_t limb_count, const int32_t* total);
