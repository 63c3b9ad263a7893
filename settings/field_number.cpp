#include "settings/field_number.h"

namespace {

constexpr const char kBlanks[] = " \t";

}  // namespace

std::optional<uint32_t> UnsignedFromText(const std::string& text, std::size_t most_digits) {
    std::size_t at = text.find_first_not_of(kBlanks);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
        if (value > UINT32_MAX || digits == most_digits) {
            return std::nullopt;
        }
    }
    if (digits == 0 || text.find_first_not_of(kBlanks, at) != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}
