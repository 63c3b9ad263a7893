// The configuration file's way to and from the disk. The operations whose safety differs by
// platform live in durable_file_posix.cpp and durable_file_win32.cpp, behind one interface,
// so that a test can hand a settings store a disk that fails as real ones rarely do (a full
// disk, a read-only folder, a file held open by another program, which a test run as root
// cannot make with permissions).
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

class Disk {
  public:
    // Reads up to `size` bytes from the start of `path` into `data`, sharing read access
    // only; `*count` gets the number of bytes read.
    virtual FileReadResult ReadStart(const std::string& path, void* data, std::size_t size,
                                     std::size_t* count) = 0;
    // Creates or truncates `path` (no sharing while it is written), writes `size` bytes and
    // forces them to the disk before returning. False when the file could not be created or
    // any byte did not get there.
    virtual bool WriteDurably(const std::string& path, const void* data, std::size_t size) = 0;
    // Moves `from` over `to` in one step: a reader sees either the old or the new file.
    virtual bool Replace(const std::string& from, const std::string& to) = 0;

  protected:
    ~Disk() = default;
};

// This machine's disk. It keeps no state, so every store may share it.
Disk& MachineDisk();

// Where ReplaceFileWhole writes the new file before it moves it over the old one.
std::string TemporaryPathFor(const std::string& path);
// The file at `path` replaced by `size` bytes of `data`: the old file stays untouched until a
// complete new one exists beside it, so a crash or a full disk never leaves a file cut short.
// False, with the old file as it was and no temporary file left, when a step failed.
bool ReplaceFileWhole(Disk& disk, const std::string& path, const void* data, std::size_t size);
