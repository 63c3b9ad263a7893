// The Connect log kept on disk: what the operator reads in the window, and the safety events
// the window has no line for, in a `.log` file beside the configuration file, each line
// beginning with its local date and time. After a night unattended it is the one account of
// what the station did.
//
// Lines, not texts. A Connect log text that begins with "\r\n" starts a line and one without
// it continues the line before, so the file is written as the texts come: a continuation goes
// on the same line, a line is ended when the next one begins (or at exit), and an empty line
// is left out. The file's lines end as the platform's text files do (LogFileLineEnd): on
// Windows in CRLF, since Notepad before Windows 10 shows a file of bare LFs as one long line;
// elsewhere in LF, which every tool there reads.
//
// Rotation. Once the file holds 1 MiB, the next line begins a new file and the old one
// becomes `.log.1`, replacing the one before: two files at most, whatever the station's
// uptime.
//
// A log that cannot be written (a read-only folder, a full disk, a file another program
// holds) never stops or slows the station: the failure is told once in the Connect log, and
// the file is tried again, quietly, with the first line after a minute.
//
// Threads. Any thread may append; a mutex keeps each text whole. The file calls are quick and
// nothing under the lock waits for another thread, so a worker is never held up by the
// window.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "station/station_view.h"

class LogFile final : public ConnectLog {
  public:
    // `shown` is the Connect log in the window; `path` the file, or empty for none (a station
    // without a configuration file).
    LogFile(ConnectLog& shown, std::string path);
    ~LogFile() override;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // To the window and the file.
    void Append(const std::string& text) override;
    // A whole line for the file alone: an event the window has no line for.
    void AppendToFileOnly(const std::string& line);

  private:
    void WriteAndTellFailure(std::string_view text);
    // Under the lock. False when the file could not be written, or waits for its retry.
    bool Write(std::string_view text);
    bool BeginLine();
    bool OpenFile();
    void Rotate();
    bool Failed();

    ConnectLog& shown_;
    const std::string path_;
    std::mutex mutex_;
    std::ofstream file_;
    std::uintmax_t size_ = 0;
    bool line_open_ = false;
    bool failure_told_ = false;
    std::optional<std::chrono::steady_clock::time_point> retry_at_;
};

// The `.log` beside the configuration file.
std::string LogPathFor(const std::string& config_path);

// How a line of the log file ends on this platform (log_file_win32.cpp, log_file_posix.cpp).
std::string_view LogFileLineEnd();
