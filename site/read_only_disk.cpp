#include "site/read_only_disk.h"

#include <cerrno>
#include <cstring>

FileReadResult ReadOnlyDisk::ReadStart(const std::string& path, void* data, std::size_t size,
                                       std::size_t* count) {
    errno = 0;
    last_read_ = MachineDisk().ReadStart(path, data, size, count);
    const int error = errno;
    const bool failed =
        last_read_ == FileReadResult::kUnopenable || last_read_ == FileReadResult::kReadFailed;
    read_failure_ = failed && error != 0 ? std::strerror(error) : "";
    return last_read_;
}

bool ReadOnlyDisk::WriteDurably(const std::string&, const void*, std::size_t) {
    save_dropped_ = true;
    return true;
}

bool ReadOnlyDisk::Replace(const std::string&, const std::string&) {
    return true;
}
