// The configuration file's way to and from the disk. The operations whose safety differs by
// platform live in durable_file_posix.cpp and durable_file_win32.cpp; what they report and
// the faults that tests put in their way are decided here, once, for both.
#pragma once

#include <cstddef>
#include <string>

enum class FileReadResult {
    kRead,        // the file opened and the read went through (it may be short)
    kMissing,     // there is no such file: a fresh start
    kUnopenable,  // the file is there but may not be opened: held by another program, no
                  // permission
    kReadFailed,  // the file opened but the read itself failed
};

// Reads up to `size` bytes from the start of `path` into `data`, sharing read access only;
// `*count` gets the number of bytes read.
FileReadResult ReadFileStart(const std::string& path, void* data, std::size_t size,
                             std::size_t* count);

// Creates or truncates `path` (no sharing while it is written), writes `size` bytes and
// forces them to the disk before returning. False when the file could not be created or any
// byte did not get there.
bool WriteFileDurably(const std::string& path, const void* data, std::size_t size);

// Moves `from` over `to` in one step: a reader sees either the old or the new file.
bool ReplaceFileAtomically(const std::string& from, const std::string& to);

// A test hook: the faults a real machine shows only rarely or only to some users (a full
// disk, a read-only folder, a file held open by another program, which a test run as root
// cannot make with permissions). Set, they hold until they are set again; FileFaults{}
// takes them all away.
struct FileFaults {
    static constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);
    // Bytes that still fit on the disk, across all later writes; a write that needs more
    // stores what fits and fails as a full disk does.
    std::size_t disk_space = kUnlimited;
    // No file can be created, as in a folder the program may not write to.
    bool refuse_create = false;
    // An existing file cannot be opened, as when another program holds it with no sharing.
    bool refuse_open = false;
};
void SetFileFaults(const FileFaults& faults);
