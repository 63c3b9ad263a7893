#include "settings/durable_file.h"

#include <cstdio>

#include "settings/durable_file_platform.h"

namespace {

class MachineDiskCalls final : public Disk {
  public:
    FileReadResult ReadStart(const std::string& path, void* data, std::size_t size,
                             std::size_t* count) override {
        *count = 0;
        return durable_file_platform::ReadStart(path, data, size, count);
    }
    bool WriteDurably(const std::string& path, const void* data, std::size_t size) override {
        return durable_file_platform::WriteAndFlush(path, data, size);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return durable_file_platform::Replace(from, to);
    }
};

}  // namespace

Disk& MachineDisk() {
    static MachineDiskCalls disk;
    return disk;
}

std::string TemporaryPathFor(const std::string& path) {
    return path + ".tmp";
}

bool ReplaceFileWhole(Disk& disk, const std::string& path, const void* data, std::size_t size) {
    const std::string temp_path = TemporaryPathFor(path);
    if (!disk.WriteDurably(temp_path, data, size) || !disk.Replace(temp_path, path)) {
        std::remove(temp_path.c_str());
        return false;
    }
    return true;
}
