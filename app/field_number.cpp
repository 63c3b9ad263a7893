#include "app/field_number.h"

#include <cstddef>

uint32_t UnsignedFromText(const std::string& text) {
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos) {
        return 0;
    }
    uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
        if (value > UINT32_MAX) {
            return 0;
        }
    }
    if (digits == 0 || text.find_first_not_of(" \t", at) != std::string::npos) {
        return 0;
    }
    return static_cast<uint32_t>(value);
}
