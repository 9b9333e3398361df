// Formatting of the result file, piece by piece. A line end follows every
// 25th group, and one more ends the file, so when the groups fill their last
// line exactly the file ends with an empty line.
#include "result_file.hpp"

#include "limb.hpp"

#include <algorithm>

namespace {

constexpr int32_t GROUPS_PER_LINE = 25;

// The limbs formatted and written at a time: 600 lines, 60,600 bytes of
// text, and at most twice that with CR LF line ends.
constexpr int32_t PIECE_LIMBS = 600 * GROUPS_PER_LINE;
static_assert(3 * PIECE_LIMBS * (LIMB_DIGITS + 1) + 2 <= RESULT_WRITE_BYTES, "write_result's buffers");

}  // namespace

ResultSize result_size(int32_t limb_count)
{
    // "d." and the final line end, then four digits a fraction limb and a line
    // end after every 25th.
    const int64_t fraction_limbs = limb_count - 1;
    return {2 + fraction_limbs * LIMB_DIGITS + fraction_limbs / GROUPS_PER_LINE + 1,
            fraction_limbs / GROUPS_PER_LINE + 1};
}

void append_result_groups(std::string& text, const int32_t* total, int32_t begin, int32_t end)
{
    for (int32_t i = begin; i < end; ++i) {
        int32_t group = total[i];
        char digits[LIMB_DIGITS];
        for (int32_t d = LIMB_DIGITS - 1; d >= 0; --d) {
            digits[d] = static_cast<char>('0' + group % 10);
            group /= 10;
        }
        text.append(digits, LIMB_DIGITS);
        if (i % GROUPS_PER_LINE == 0)
            text += '\n';
    }
}

FileReplacement reserve_result(int32_t limb_count)
{
    const ResultSize size = result_size(limb_count);
    return FileReplacement(RESULT_FILE_NAME, size.text_bytes, size.line_ends);
}

void write_result(FileReplacement& file, int32_t limb_count, const int32_t* total)
{
    // The size reserved counts one digit before the point; limbs are below
    // LIMB_BASE, and pi's integer part is 3 (0 with no fraction limbs).
    if (total[0] < 0 || total[0] > 9)
        throw FileError("cannot write " + std::string(RESULT_FILE_NAME) + ": an integer part of " +
                        std::to_string(total[0]) + " is not one digit");
    std::string text = std::to_string(total[0]) + ".";
    text.reserve(PIECE_LIMBS * (LIMB_DIGITS + 1));
    for (int32_t begin = 1; begin < limb_count;) {
        const int32_t end = begin + std::min(PIECE_LIMBS, limb_count - begin);
        append_result_groups(text, total, begin, end);
        file.write(text);
        text.clear();
        begin = end;
    }
    text += '\n';
    file.write(text);
    file.commit();
}
