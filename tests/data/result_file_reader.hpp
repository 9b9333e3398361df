// A result file read decimal by decimal, a chunk at a time, with its layout
// checked on the way: "3.", then the decimals, a line end (LF or CR LF) after
// every 100th, and at the end one line end and one empty line at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

// What is wrong with the file, or that it cannot be read.
class ResultFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ResultFileReader {
public:
    // Throws ResultFileError where the file cannot be opened.
    explicit ResultFileReader(const std::string& path);
    ~ResultFileReader();
    ResultFileReader(const ResultFileReader&) = delete;
    ResultFileReader& operator=(const ResultFileReader&) = delete;

    // The next decimals, up to capacity of them, as the characters '0' to
    // '9' in decimals; how many, 0 once the file has no more. Throws
    // ResultFileError, naming the line, where the file breaks the layout or
    // cannot be read.
    size_t read_decimals(char* decimals, size_t capacity);

private:
    // Takes the next piece of the file into buffer_; false at its end.
    bool fill();
    // One character past the decimals: a line end's, or one that breaks the layout.
    void take_layout_character(char character);
    [[noreturn]] void fail(const std::string& what) const;

    std::string path_;
    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;  // the characters of buffer_ not taken yet
    bool header_read_ = false;    // "3." taken
    bool carriage_return_ = false;  // a CR taken, its LF not yet
    bool at_end_ = false;
    int64_t line_ = 1;               // the line under way, from 1
    int32_t line_decimals_ = 0;      // decimals on it so far
    int32_t line_ends_since_decimal_ = 0;
    int32_t last_line_decimals_ = 0;  // decimals on the line the last line end closed
};

// The decimals the file holds, its layout checked throughout.
int64_t count_result_file_decimals(const std::string& path);
