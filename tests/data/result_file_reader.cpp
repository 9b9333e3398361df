// The layout is checked one character at a time, but the decimals, nearly
// all of a file, are taken in runs of up to a line's 100 at once.
#include "result_file_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr size_t CHUNK_BYTES = size_t{1} << 20;
constexpr int32_t DECIMALS_PER_LINE = 100;

bool is_decimal(char character) { return character >= '0' && character <= '9'; }

std::string shown(char character)
{
    if (character >= ' ' && character <= '~')
        return std::string("'") + character + "'";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", static_cast<unsigned>(static_cast<unsigned char>(character)));
    return std::string("the byte ") + hex;
}

}  // namespace

ResultFileReader::ResultFileReader(const std::string& path) : path_(path), buffer_(CHUNK_BYTES)
{
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr)
        throw ResultFileError("cannot open " + path + ": " + std::strerror(errno));
}

ResultFileReader::~ResultFileReader() { std::fclose(file_); }

void ResultFileReader::fail(const std::string& what) const
{
    throw ResultFileError(path_ + ", line " + std::to_string(line_) + ": " + what);
}

bool ResultFileReader::fill()
{
    begin_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (end_ == 0 && std::ferror(file_))
        fail(std::string("cannot read: ") + std::strerror(errno));
    return end_ > 0;
}

void ResultFileReader::take_layout_character(char character)
{
    if (carriage_return_ && character != '\n')
        fail("a carriage return without a line feed");
    if (character == '\r') {
        carriage_return_ = true;
        return;
    }
    if (character != '\n')
        fail(shown(character) + " where a decimal or a line end belongs");
    carriage_return_ = false;
    // A line end after the last decimal, then one empty line at most.
    if (++line_ends_since_decimal_ > 2)
        fail("an empty line after the final empty line");
    last_line_decimals_ = line_decimals_;
    line_decimals_ = 0;
    ++line_;
}

size_t ResultFileReader::read_decimals(char* decimals, size_t capacity)
{
    if (!header_read_) {
        char header[2];
        for (char& character : header) {
            if (begin_ == end_ && !fill())
                fail("the file ends before \"3.\"");
            character = buffer_[begin_++];
        }
        if (header[0] != '3' || header[1] != '.')
            fail("the file does not begin with \"3.\"");
        header_read_ = true;
    }
    size_t count = 0;
    while (count < capacity && !at_end_) {
        if (begin_ == end_ && !fill()) {
            if (carriage_return_)
                fail("a carriage return without a line feed at the end");
            at_end_ = true;
            break;
        }
        if (!is_decimal(buffer_[begin_])) {
            take_layout_character(buffer_[begin_++]);
            continue;
        }
        // A decimal opens or continues a line: only a full line may come
        // before it, and the line takes 100 at most.
        if (carriage_return_)
            fail("a carriage return without a line feed");
        if (line_ends_since_decimal_ == 1 && last_line_decimals_ != DECIMALS_PER_LINE)
            fail("more decimals after line " + std::to_string(line_ - 1) + ", which holds " +
                 std::to_string(last_line_decimals_) + " and not " + std::to_string(DECIMALS_PER_LINE));
        if (line_ends_since_decimal_ == 2)
            fail("more decimals after the empty line " + std::to_string(line_ - 1));
        if (line_decimals_ == DECIMALS_PER_LINE)
            fail("more than " + std::to_string(DECIMALS_PER_LINE) + " decimals");
        line_ends_since_decimal_ = 0;
        const size_t run_limit = std::min({capacity - count, size_t(DECIMALS_PER_LINE - line_decimals_), end_ - begin_});
        size_t run = 0;
        while (run < run_limit && is_decimal(buffer_[begin_ + run]))
            ++run;
        std::memcpy(decimals + count, buffer_.data() + begin_, run);
        begin_ += run;
        count += run;
        line_decimals_ += int32_t(run);
    }
    return count;
}

int64_t count_result_file_decimals(const std::string& path)
{
    ResultFileReader reader(path);
    std::vector<char> decimals(CHUNK_BYTES);
    int64_t count = 0;
    while (const size_t read = reader.read_decimals(decimals.data(), decimals.size()))
        count += int64_t(read);
    return count;
}
