// This machine's disk with the faults a real one shows only rarely or only to some users (a
// full disk, a read-only folder, a file held open by another program), which a test run as
// root cannot make with permissions.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "settings/durable_file.h"

// Set, they hold until they are set again; FileFaults{} takes them all away.
struct FileFaults {
    static constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);
    // Bytes that still fit on the disk, across all later writes; a write that needs more
    // stores what fits and fails as a full disk does.
    std::size_t disk_space = kUnlimited;
    // No file can be created, as in a folder the program may not write to.
    bool refuse_create = false;
    // An existing file cannot be opened, as when another program holds it with no sharing.
    bool refuse_open = false;
    // As refuse_open, for this many reads only: a file held for a moment.
    int reads_refused = 0;
};

class FaultyDisk final : public Disk {
  public:
    FileReadResult ReadStart(const std::string& path, void* data, std::size_t size,
                             std::size_t* count) override {
        if (faults.refuse_open || faults.reads_refused > 0) {
            faults.reads_refused -= faults.reads_refused > 0 ? 1 : 0;
            // A file that is not there cannot be held by anybody.
            unsigned char byte = 0;
            return MachineDisk().ReadStart(path, &byte, 0, count) == FileReadResult::kMissing
                       ? FileReadResult::kMissing
                       : FileReadResult::kUnopenable;
        }
        return MachineDisk().ReadStart(path, data, size, count);
    }
    bool WriteDurably(const std::string& path, const void* data, std::size_t size) override {
        if (faults.refuse_create) {
            return false;
        }
        const std::size_t fits = std::min(size, faults.disk_space);
        if (faults.disk_space != FileFaults::kUnlimited) {
            faults.disk_space -= fits;
        }
        // What fits is really written, so the file left behind is the part-written one that
        // a full disk leaves.
        return MachineDisk().WriteDurably(path, data, fits) && fits == size;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return MachineDisk().Replace(from, to);
    }

    FileFaults faults;
};
