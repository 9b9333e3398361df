#include "reference_digits.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

const std::string& reference_decimals()
{
    // Stored compressed in tests/data; CMake unpacks it into the build tree.
    static const std::string decimals = [] {
        const std::string path = PI_REFERENCE_DIGITS;
        std::ifstream file(path);
        std::stringstream contents;
        contents << file.rdbuf();
        const std::string text = contents.str();
        if (!file || text.rfind("3.", 0) != 0)
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
