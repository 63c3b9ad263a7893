// The RemoteSide at the far site, whichever program runs it: pellmar.exe under Wine, watched
// through its window, or the native pellmar-site, watched through the lines it writes. A case
// gives it a configuration image (and an .ini), starts it, waits on its network status and
// its Connect log, and ends it as its operator or a service manager would, or kills it.
//
// Both open at start as far as a case can tell: the Wine site's Open is pressed for it, and
// StartListening returns once either listens.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/wine_kit/pellmar_process.h"
#include "tools/wine_kit/station_kit.h"

enum class Site { kWine, kNative };

// "Wine" or "Native", for the names of the cases that run on each.
std::string SiteName(Site site);

class RemoteSite {
  public:
    static constexpr const char* kListening = "Listening for Request....";

    virtual ~RemoteSite() = default;

    virtual Site kind() const = 0;
    // The folder that holds pellmar.cfg and pellmar.ini, with a trailing backslash.
    virtual const std::string& folder() const = 0;
    void WriteConfig(const Bytes& image) const;
    Bytes ReadConfig() const;
    void WriteIni(const std::string& text) const;

    // Starts the program (again, after an Exit or a Kill) and has it open, returning as soon
    // as it was asked to: the moment a case times how soon the site listens. False when it
    // could not be started. Generous: Wine can take many seconds on a busy machine.
    virtual bool Launch(int timeout_ms = 60000) = 0;
    // Launches the program and waits until its network status reads `status`; false when it
    // does not within the time, or the program ends first.
    bool Start(const std::string& status, int timeout_ms = 60000);
    bool StartListening(int timeout_ms = 60000) { return Start(kListening, timeout_ms); }
    // Whether the program, once launched, has ended.
    virtual bool Ended() = 0;
    // The text of its network status field; "" before it shows one.
    virtual std::string NetStatus() = 0;
    // The Connect log's lines, oldest first.
    virtual std::vector<std::string> LogLines() = 0;
    // All the site has shown, for a failure's message.
    virtual std::string Shown() = 0;
    // Ends the program as a person (Exit) or a service manager (SIGTERM) would, and waits for
    // it: its exit status, or -1 when it did not end within the time.
    virtual long Exit(int timeout_ms) = 0;
    // Ends the program at once: it sends and closes nothing itself.
    virtual void Kill() = 0;
    // The Wine site's Main window, for what only a window shows; nullptr for the native site.
    virtual HWND window() const { return nullptr; }
};

// The site `kind` with `keyer` as its keyer, its program not yet started. For the native site,
// PELLMAR_SITE names the program (see tests/wine/CMakeLists.txt).
std::unique_ptr<RemoteSite> MakeRemoteSite(Site kind, const Emulator& keyer);

// Polls until the site's network status reads `text`; false on time-out.
bool WaitForNetStatus(RemoteSite* site, const std::string& text, int timeout_ms);
// Polls until the Connect log's last line is `line`; the last line either way ("" for none).
std::string WaitForLastLogLine(RemoteSite* site, const std::string& line, int timeout_ms);
