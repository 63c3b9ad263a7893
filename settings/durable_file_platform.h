// What each platform's file code provides to durable_file.cpp for the machine's disk.
#pragma once

#include <cstddef>
#include <string>

#include "settings/durable_file.h"

namespace durable_file_platform {

FileReadResult ReadStart(const std::string& path, void* data, std::size_t size, std::size_t* count);
bool WriteAndFlush(const std::string& path, const void* data, std::size_t size);
bool Replace(const std::string& from, const std::string& to);

}  // namespace durable_file_platform
