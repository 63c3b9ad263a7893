#include <windows.h>

#include "settings/durable_file_platform.h"

namespace durable_file_platform {

namespace {

// ReadFile and WriteFile take a 32-bit count; the configuration file is far smaller, but a
// caller's size is not cut silently.
constexpr std::size_t kMaxTransfer = 0x7FFFFFFF;

}  // namespace

FileReadResult ReadStart(const std::string& path, void* data, std::size_t size,
                         std::size_t* count) {
    *count = 0;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FileReadResult::kMissing
                   : FileReadResult::kUnopenable;
    }
    char* bytes = static_cast<char*>(data);
    FileReadResult result = FileReadResult::kRead;
    while (*count < size) {
        const std::size_t want = size - *count < kMaxTransfer ? size - *count : kMaxTransfer;
        DWORD got = 0;
        if (!ReadFile(file, bytes + *count, static_cast<DWORD>(want), &got, nullptr)) {
            result = FileReadResult::kReadFailed;
            break;
        }
        if (got == 0) {
            break;
        }
        *count += got;
    }
    CloseHandle(file);
    return result;
}

bool WriteAndFlush(const std::string& path, const void* data, std::size_t size) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    bool ok = true;
    while (ok && written < size) {
        const std::size_t want = size - written < kMaxTransfer ? size - written : kMaxTransfer;
        DWORD put = 0;
        ok = WriteFile(file, bytes + written, static_cast<DWORD>(want), &put, nullptr) && put > 0;
        written += put;
    }
    ok = FlushFileBuffers(file) && ok;
    ok = CloseHandle(file) && ok;
    return ok;
}

bool Replace(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace durable_file_platform
