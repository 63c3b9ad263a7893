// The number a number field holds, read as Windows reads a dialog field as unsigned: blanks
// around the digits are allowed, and a field that holds anything else, nothing, or a number
// beyond 32 bits reads as 0. Every place that reads an operator's number goes through it,
// so a field means the same number everywhere.
#pragma once

#include <cstdint>
#include <string>

uint32_t UnsignedFromText(const std::string& text);
