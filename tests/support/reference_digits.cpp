#include "reference_digits.hpp"

#include <cstdio>
#include <stdexcept>

const std::string& reference_decimals()
{
    // Stored compressed; gzip is on every machine the tests run on.
    static const std::string decimals = [] {
        const std::string path = std::string(PI_TEST_DATA_DIR) + "/pi_decimals.txt.gz";
        std::FILE* pipe = popen(("gzip -dc '" + path + "'").c_str(), "r");
        std::string text;
        if (pipe != nullptr) {
            char buffer[1 << 16];
            for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                text.append(buffer, got);
            if (pclose(pipe) != 0)
                text.clear();
        }
        if (text.rfind("3.", 0) != 0)
            throw std::runtime_error("cannot read the reference digits in " + path);
        const size_t end = text.find_first_not_of("0123456789", 2);
        return text.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    }();
    return decimals;
}

std::string expected_result_file(size_t decimal_count)
{
    std::string text = "3.";
    for (size_t position = 1; position <= decimal_count; ++position) {
        text += reference_decimals().at(position - 1);
        if (position % 100 == 0)
            text += '\n';
    }
    return text + '\n';
}

size_t result_file_size(size_t decimal_count)
{
    return 2 + decimal_count + decimal_count / 100 + 1;
}
