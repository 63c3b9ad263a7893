// The native pellmar-site as a RemoteSite, started from a Wine program. Wine runs a Linux
// program that CreateProcessA names, but hands back nothing to wait on, so the site runs
// under a shell script in a folder of its own below /tmp (Z:\tmp to this side) that keeps
// what a handle would have given: the site's pid in `pid`, its lines in `out`, and its exit
// status in `status` once it has ended. `timeout` bounds its life, so that a case that dies
// leaves no site running for long; signals go to it through /bin/kill, started the same way.
#pragma once

#include <string>
#include <vector>

#include "tools/wine_kit/remote_site.h"

// A Unix path as this side names it: Wine's Z: drive is the Linux root.
std::string WindowsPathOf(const std::string& unix_path);
// Starts the Linux program `unix_path` with `arguments`; there is nothing to wait on.
bool StartUnixProgram(const std::string& unix_path, const std::string& arguments);

class NativeSite : public RemoteSite {
  public:
    // Longer than any case runs, shorter than ctest lets a case run.
    static constexpr int kCaseLifeSeconds = 120;

    // `program` is the Unix path of pellmar-site, `keyer_device` that of the site's keyer (an
    // emulator's pty); the site is ended after `life_seconds` whatever happens.
    NativeSite(const std::string& program, const std::string& keyer_device,
               int life_seconds = kCaseLifeSeconds);
    ~NativeSite() override;  // kills the site if it still runs and removes the folder
    NativeSite(const NativeSite&) = delete;
    NativeSite& operator=(const NativeSite&) = delete;

    Site kind() const override { return Site::kNative; }
    const std::string& folder() const override { return folder_; }
    bool Launch(int timeout_ms) override;
    bool Ended() override;
    std::string NetStatus() override;
    std::vector<std::string> LogLines() override;
    std::string Shown() override;
    long Exit(int timeout_ms) override;
    void Kill() override;
    // The site's Linux process id while it runs, for what /proc tells of it; 0 otherwise.
    int pid() const;

  private:
    // The text of each line the site has written, its time stamp taken off.
    std::vector<std::string> Texts() const;
    bool Running() const;
    bool Signal(const char* name) const;
    // The exit status the script wrote, or -1 when it wrote none within the time.
    long WaitForStatus(int timeout_ms) const;

    std::string program_;
    std::string keyer_device_;
    int life_seconds_;
    std::string unix_folder_;
    std::string folder_;
    std::string problem_;  // why the last start failed before the site ran
};
