#include "tools/wine_kit/remote_site.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/resource_ids.h"
#include "tools/common/wait_until.h"
#include "tools/wine_kit/native_site.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

constexpr std::chrono::milliseconds kPoll{50};

// pellmar.exe in a folder of its own, in a job of its own, so that it never outlives the case.
class WineSite : public RemoteSite {
  public:
    Site kind() const override { return Site::kWine; }
    const std::string& folder() const override { return station_.folder(); }

    bool Launch(int timeout_ms) override {
        job_ = std::make_unique<Job>();
        if (!station_.Start(timeout_ms) || !job_->Add(station_.process_id())) {
            return false;
        }
        ui::Click(window(), IDC_OPEN_CLOSE);
        return true;
    }
    bool Ended() override { return station_.WaitForExit(0) != -1; }
    std::string NetStatus() override { return ui::ReadText(window(), IDC_NET_STATUS); }
    std::vector<std::string> LogLines() override {
        std::vector<std::string> lines;
        const std::string pane = ui::ReadText(window(), IDC_LOG_PANE);
        for (size_t at = 0; at <= pane.size();) {
            const size_t end = std::min(pane.find("\r\n", at), pane.size());
            if (end > at) {
                lines.push_back(pane.substr(at, end - at));
            }
            at = end + 2;
        }
        return lines;
    }
    std::string Shown() override {
        return "network status: " + NetStatus() + "\n" + ui::ReadText(window(), IDC_LOG_PANE);
    }
    long Exit(int timeout_ms) override {
        ui::Click(window(), IDC_EXIT);
        return station_.WaitForExit(timeout_ms);
    }
    void Kill() override { station_.Kill(); }
    HWND window() const override { return station_.window(); }

  private:
    PellmarProcess station_;
    std::unique_ptr<Job> job_;
};

}  // namespace

std::string SiteName(Site site) {
    return site == Site::kWine ? "Wine" : "Native";
}

void RemoteSite::WriteConfig(const Bytes& image) const {
    std::ofstream out(folder() + "pellmar.cfg", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
}

Bytes RemoteSite::ReadConfig() const {
    std::ifstream in(folder() + "pellmar.cfg", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RemoteSite::WriteIni(const std::string& text) const {
    std::ofstream(folder() + "pellmar.ini", std::ios::binary | std::ios::trunc) << text;
}

std::unique_ptr<RemoteSite> MakeRemoteSite(Site kind, const Emulator& keyer) {
    if (kind == Site::kWine) {
        return std::make_unique<WineSite>();
    }
    const char* program = std::getenv("PELLMAR_SITE");
    return std::make_unique<NativeSite>(program != nullptr ? program : "", keyer.device);
}

bool RemoteSite::Start(const std::string& status, int timeout_ms) {
    if (!Launch(timeout_ms)) {
        return false;
    }
    WaitUntil([&] { return NetStatus() == status || Ended(); },
              std::chrono::milliseconds(timeout_ms), kPoll);
    return NetStatus() == status;
}

bool WaitForNetStatus(RemoteSite* site, const std::string& text, int timeout_ms) {
    return WaitUntil([&] { return site->NetStatus() == text; },
                     std::chrono::milliseconds(timeout_ms), kPoll);
}

std::string WaitForLastLogLine(RemoteSite* site, const std::string& line, int timeout_ms) {
    std::string last;
    WaitUntil(
        [&] {
            const std::vector<std::string> lines = site->LogLines();
            last = lines.empty() ? std::string() : lines.back();
            return last == line;
        },
        std::chrono::milliseconds(timeout_ms), kPoll);
    return last;
}
