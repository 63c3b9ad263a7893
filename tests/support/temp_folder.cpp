#include "tests/support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define PELLMAR_GETPID _getpid
#else
#include <unistd.h>
#define PELLMAR_GETPID getpid
#endif

TempFolder::TempFolder() {
    static std::atomic<int> sequence{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("pellmar-test-" + std::to_string(PELLMAR_GETPID()) + "-" + std::to_string(sequence++) +
             "-" + std::to_string(stamp));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
