#include "settings/durable_file.h"

#include <algorithm>

#include "settings/durable_file_platform.h"

namespace {

// Only the window's thread reads or writes the configuration file, and tests set the
// faults on that thread too.
FileFaults faults;

}  // namespace

void SetFileFaults(const FileFaults& new_faults) {
    faults = new_faults;
}

FileReadResult ReadFileStart(const std::string& path, void* data, std::size_t size,
                             std::size_t* count) {
    *count = 0;
    if (faults.refuse_open) {
        // A file that is not there cannot be held by anybody.
        std::size_t probe = 0;
        unsigned char byte = 0;
        if (durable_file_platform::ReadStart(path, &byte, 0, &probe) == FileReadResult::kMissing) {
            return FileReadResult::kMissing;
        }
        return FileReadResult::kUnopenable;
    }
    return durable_file_platform::ReadStart(path, data, size, count);
}

bool WriteFileDurably(const std::string& path, const void* data, std::size_t size) {
    if (faults.refuse_create) {
        return false;
    }
    const std::size_t fits = std::min(size, faults.disk_space);
    if (faults.disk_space != FileFaults::kUnlimited) {
        faults.disk_space -= fits;
    }
    // What fits is really written, so the file left behind is the part-written one that a
    // full disk leaves.
    const bool written = durable_file_platform::WriteAndFlush(path, data, fits);
    return written && fits == size;
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
    return durable_file_platform::Replace(from, to);
}
