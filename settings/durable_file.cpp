#include "settings/durable_file.h"

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
