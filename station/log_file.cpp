#include "station/log_file.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "settings/ini_file.h"
#include "station/local_time.h"

namespace {

constexpr std::uintmax_t kLargestFile = 1024 * 1024;
constexpr auto kRetryPause = std::chrono::minutes(1);
constexpr std::string_view kTextLineBreak = "\r\n";

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "2026-12-08 21:04:05 ", or nothing when the clock cannot be read as local time.
std::string LocalTimeStamp() {
    std::tm local{};
    char stamp[32] = "";
    if (LocalTimeOf(std::time(nullptr), &local)) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    }
    return stamp;
}

// Ends the file's current line; the bytes that took.
std::uintmax_t WriteLineEnd(std::ofstream& file) {
    const std::string_view end = LogFileLineEnd();
    file.write(end.data(), static_cast<std::streamsize>(end.size()));
    return end.size();
}

bool EndsWithLineEnd(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char last = 0;
    in.seekg(-1, std::ios::end);
    in.get(last);
    return last == '\n';
}

}  // namespace

std::string LogPathFor(const std::string& config_path) {
    return SiblingPathFor(config_path, ".log");
}

LogFile::LogFile(ConnectLog& shown, std::string path) : shown_(shown), path_(std::move(path)) {}

LogFile::~LogFile() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (line_open_ && file_.is_open()) {
        WriteLineEnd(file_);
    }
}

void LogFile::Append(const std::string& text) {
    shown_.Append(text);
    WriteAndTellFailure(text);
}

void LogFile::AppendToFileOnly(const std::string& line) {
    WriteAndTellFailure(std::string(kTextLineBreak) + line);
}

void LogFile::WriteAndTellFailure(std::string_view text) {
    if (path_.empty()) {
        return;
    }
    bool tell = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tell = !Write(text) && !failure_told_;
        failure_told_ = failure_told_ || tell;
    }
    // Outside the lock: the window's log is another object's business.
    if (tell) {
        shown_.Append("\r\nCould not write the log file " + FileNameOf(path_) +
                      "; it is tried again each minute.");
    }
}

bool LogFile::Write(std::string_view text) {
    if (retry_at_ && std::chrono::steady_clock::now() < *retry_at_) {
        return false;
    }
    while (!text.empty()) {
        const std::size_t line_break = text.find(kTextLineBreak);
        const std::string_view piece = text.substr(0, line_break);
        if (!piece.empty()) {
            if (!line_open_ && !BeginLine()) {
                return Failed();
            }
            file_.write(piece.data(), static_cast<std::streamsize>(piece.size()));
            size_ += piece.size();
        }
        if (line_break == std::string_view::npos) {
            break;
        }
        if (line_open_) {
            size_ += WriteLineEnd(file_);
            line_open_ = false;
        }
        text.remove_prefix(line_break + kTextLineBreak.size());
    }
    if (file_.is_open() && !file_.flush()) {
        return Failed();
    }
    retry_at_.reset();
    return true;
}

bool LogFile::BeginLine() {
    if (!file_.is_open() && !OpenFile()) {
        return false;
    }
    if (size_ >= kLargestFile) {
        Rotate();
        if (!OpenFile()) {
            return false;
        }
    }
    const std::string stamp = LocalTimeStamp();
    file_.write(stamp.data(), static_cast<std::streamsize>(stamp.size()));
    size_ += stamp.size();
    line_open_ = true;
    return true;
}

bool LogFile::OpenFile() {
    file_.clear();
    file_.open(path_, std::ios::binary | std::ios::app);
    if (!file_.is_open()) {
        return false;
    }
    file_.seekp(0, std::ios::end);
    const std::streamoff size = file_.tellp();
    size_ = size > 0 ? static_cast<std::uintmax_t>(size) : 0;
    // A line cut short by a crash or a failed write stays cut rather than run on into ours.
    if (size_ > 0 && !EndsWithLineEnd(path_)) {
        size_ += WriteLineEnd(file_);
    }
    return static_cast<bool>(file_);
}

void LogFile::Rotate() {
    file_.close();
    const std::string older = path_ + ".1";
    // Renaming onto an existing file fails on Windows.
    std::remove(older.c_str());
    // When another program holds the file it cannot be renamed: it goes on growing, and the
    // next line tries again.
    std::rename(path_.c_str(), older.c_str());
}

bool LogFile::Failed() {
    file_.close();
    file_.clear();
    line_open_ = false;
    retry_at_ = std::chrono::steady_clock::now() + kRetryPause;
    return false;
}
