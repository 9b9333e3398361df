// Pi's decimals from the shipped reference file, made by a method unrelated
// to the program's, and the result file the program should write from them.
#pragma once

#include <string>

// The decimals after the point (four million of them).
const std::string& reference_decimals();

// "3.", then the first decimal_count decimals, a line end after every 100th,
// and one more line end at the very end.
std::string expected_result_file(size_t decimal_count);

// The size of that file, without building it; for accuracies past the
// reference's million decimals too.
size_t result_file_size(size_t decimal_count);
