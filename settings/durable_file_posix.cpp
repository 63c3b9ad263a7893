#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "settings/durable_file_platform.h"

namespace durable_file_platform {

FileReadResult ReadStart(const std::string& path, void* data, std::size_t size,
                         std::size_t* count) {
    *count = 0;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // A path through a plain file names nothing that could exist, like a missing one.
        return errno == ENOENT || errno == ENOTDIR ? FileReadResult::kMissing
                                                   : FileReadResult::kUnopenable;
    }
    char* bytes = static_cast<char*>(data);
    FileReadResult result = FileReadResult::kRead;
    while (*count < size) {
        const ssize_t got = read(fd, bytes + *count, size - *count);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result = FileReadResult::kReadFailed;
            break;
        }
        if (got == 0) {
            break;
        }
        *count += static_cast<std::size_t>(got);
    }
    close(fd);
    return result;
}

bool WriteAndFlush(const std::string& path, const void* data, std::size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    bool ok = true;
    while (ok && written < size) {
        const ssize_t put = write(fd, bytes + written, size - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        ok = put > 0;
        if (ok) {
            written += static_cast<std::size_t>(put);
        }
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    return ok;
}

namespace {

// The new file takes the old one's owner, group and mode, so that rewriting a file never opens
// it to other users (the .ini holds the link key) nor shuts out the one that reads it (a site's
// service reads an .ini that root writes).
void KeepAccessOf(const std::string& old_path, const std::string& new_path) {
    struct stat old_file {};
    if (stat(old_path.c_str(), &old_file) != 0) {
        return;
    }
    if (chown(new_path.c_str(), old_file.st_uid, old_file.st_gid) != 0) {
        // Only root gives a file away; anyone else keeps it, in the old group if a member.
        static_cast<void>(chown(new_path.c_str(), static_cast<uid_t>(-1), old_file.st_gid) == 0);
    }
    static_cast<void>(chmod(new_path.c_str(), old_file.st_mode & 0777) == 0);
}

}  // namespace

bool Replace(const std::string& from, const std::string& to) {
    KeepAccessOf(to, from);
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace durable_file_platform
