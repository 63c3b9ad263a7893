// One pellmar.exe under test: a fresh folder of its own holding a copy of the program (and
// a configuration file when the test supplies one), started and watched through its window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/wine_kit/ui_driver.h"

class PellmarProcess {
  public:
    PellmarProcess();
    ~PellmarProcess();  // ends the program if it still runs and removes the folder
    PellmarProcess(const PellmarProcess&) = delete;
    PellmarProcess& operator=(const PellmarProcess&) = delete;

    const std::string& folder() const { return folder_; }
    std::string ConfigPath() const { return folder_ + "pellmar.cfg"; }
    void WriteConfig(const std::vector<uint8_t>& image) const;
    std::vector<uint8_t> ReadConfig() const;

    // The pellmar.exe that Start copies into the folder: by default the one beside the
    // running program (benchmarks compare another build this way).
    void SetProgram(const std::string& exe) { program_source_ = exe; }
    // Starts the program and waits for its Main window; false when either fails.
    // Generous: on a loaded machine Wine can take many seconds to bring a program up.
    bool Start(int timeout_ms = 60000);
    // Starts the program without waiting for its Main window, which a box shown while it
    // starts keeps hidden; WaitForWindow waits for it afterwards. The folder runs one program
    // at a time: a run still going is ended first.
    bool Launch();
    bool WaitForWindow(int timeout_ms = 60000);
    HWND window() const { return program_.window; }
    DWORD process_id() const { return program_.process_id; }
    long WaitForExit(int timeout_ms) { return ui::WaitForExit(&program_, timeout_ms); }
    // Ends the program at once, as a crash or a killed process would: it sends nothing and
    // closes nothing itself. The folder stays until the PellmarProcess goes.
    void Kill() { ui::StopProgram(&program_); }

  private:
    std::string folder_;
    std::string program_source_;
    ui::Program program_;
};

// Removes `folder` (with a trailing backslash) and the files in it.
void RemoveFolder(const std::string& folder);

// The 1832-byte image the program writes for a missing configuration file.
std::vector<uint8_t> DefaultConfigImage();
