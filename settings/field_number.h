// The number a number field holds, read as Windows reads a dialog field as unsigned: decimal
// digits with blanks around them allowed. Every place that reads an operator's number goes
// through it, so a field means the same number everywhere; a field that holds anything else,
// nothing, or a number beyond 32 bits holds no number, which most readers take as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

constexpr std::size_t kAnyNumberOfDigits = std::numeric_limits<std::size_t>::max();

// No number, too, when the field holds more than `most_digits` digits, leading zeros
// included.
std::optional<uint32_t> UnsignedFromText(const std::string& text,
                                         std::size_t most_digits = kAnyNumberOfDigits);
