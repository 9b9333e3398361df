// Formatting of the result file. A line end follows every 25th group, and one
// more ends the file, so when the groups fill their last line exactly the file
// ends with an empty line.
#include "result_file.hpp"

#include "file_replace.hpp"
#include "limb.hpp"

namespace {
constexpr int32_t GROUPS_PER_LINE = 25;
}

std::string format_result(int32_t limb_count, const int32_t* total)
{
    std::string text = std::to_string(total[0]) + ".";
    const int64_t fraction_limbs = limb_count - 1;
    text.reserve(text.size() + fraction_limbs * (LIMB_DIGITS + 1) + 1);
    for (int32_t i = 1; i < limb_count; ++i) {
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
    text += '\n';
    return text;
}

void write_result(int32_t limb_count, const int32_t* total)
{
    replace_file(RESULT_FILE_NAME, format_result(limb_count, total));
}
