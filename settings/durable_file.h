// The two file operations whose safety differs by platform.
#pragma once

#include <cstddef>
#include <string>

// Creates or truncates `path`, writes `size` bytes and forces them to the disk before
// returning. False when the file could not be created or any byte did not get there.
bool WriteFileDurably(const std::string& path, const void* data, std::size_t size);

// Moves `from` over `to` in one step: a reader sees either the old or the new file.
bool ReplaceFileAtomically(const std::string& from, const std::string& to);
