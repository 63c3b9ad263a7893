// The machine's disk for a configuration file that only `config set` may write. The station
// saves on its own now and then (defaults into a missing file or one that holds no record,
// the keyer's settings at close); a site that did so would rewrite, unasked, the file its
// operator made. Here such a save is dropped as if it had gone through, and noted, so the
// site can tell from the read alone whether the file holds a configuration at all.
#pragma once

#include <cstddef>
#include <string>

#include "settings/durable_file.h"

class ReadOnlyDisk final : public Disk {
  public:
    FileReadResult ReadStart(const std::string& path, void* data, std::size_t size,
                             std::size_t* count) override;
    bool WriteDurably(const std::string& path, const void* data, std::size_t size) override;
    bool Replace(const std::string& from, const std::string& to) override;

    // What the last read found.
    FileReadResult last_read() const { return last_read_; }
    // The system's words for why the last read failed; empty after one that did not.
    const std::string& read_failure() const { return read_failure_; }
    // A save was asked for and dropped: after a read alone, the file held no record.
    bool save_dropped() const { return save_dropped_; }

  private:
    FileReadResult last_read_ = FileReadResult::kMissing;
    std::string read_failure_;
    bool save_dropped_ = false;
};
