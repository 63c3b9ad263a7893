#include "site/site_loop.h"

#include <algorithm>
#include <chrono>

#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "site/read_only_disk.h"
#include "station/station_timers.h"

namespace {

using Clock = std::chrono::steady_clock;
using Timer = StationTimers::Timer;

// The window's two timers as deadlines: each ticks every period from when it was set.
class DeadlineTimers {
  public:
    void Set(Timer timer, std::chrono::milliseconds period) {
        Slot& slot = slots_[Index(timer)];
        slot.period = period;
        slot.due = Clock::now() + period;
    }

    // Rounded up: a wait rounded down to 0 ms would spin until the timer is due.
    int MillisecondsToNext() const {
        const Clock::time_point next = std::min(slots_[0].due, slots_[1].due);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }

    // Whether `timer` is due; if it is, its next tick is a period from now.
    bool TakeDue(Timer timer) {
        Slot& slot = slots_[Index(timer)];
        if (Clock::now() < slot.due) {
            return false;
        }
        slot.due = Clock::now() + slot.period;
        return true;
    }

  private:
    struct Slot {
        std::chrono::milliseconds period{0};
        Clock::time_point due = Clock::time_point::max();
    };
    static int Index(Timer timer) { return timer == Timer::kHeartbeat ? 0 : 1; }

    Slot slots_[2];
};

}  // namespace

std::string WhySiteCannotWork(const std::string& config_path) {
    ReadOnlyDisk disk;
    SettingsStore settings(config_path, disk);
    settings.Read();
    const std::string file = "the configuration file " + config_path;
    switch (disk.last_read()) {
        case FileReadResult::kMissing:
            return file + " does not exist; make it with: pellmar-site config set NAME VALUE ...";
        case FileReadResult::kUnopenable:
        case FileReadResult::kReadFailed:
            return "cannot read " + file +
                   (disk.read_failure().empty() ? "" : ": " + disk.read_failure());
        case FileReadResult::kRead:
            break;
    }
    if (disk.save_dropped()) {
        return file + " is empty or holds no Pellmar configuration";
    }
    if (settings.NetMode() == kNetModeOff) {
        return file + " says Network Off; choose a \"Network I/F\" with pellmar-site config set";
    }
    if ((settings.NetFlags() & kNetLocalKeyerDisabled) != 0) {
        return file + " names no keyer: \"Local Tarvel Port Enable\" is off";
    }
    return {};
}

int RunSite(Station& station, SocketLoop& sockets, const std::function<bool()>& stop_requested,
            ServiceNotifier& service) {
    station.Start();
    if (station.OpenUnattended() == 0) {
        station.Exit();
        return 1;
    }
    service.Ready();
    DeadlineTimers clock;
    StationTimers timers(station, [&clock](Timer timer, std::chrono::milliseconds period) {
        clock.Set(timer, period);
    });
    timers.Start();
    while (!stop_requested()) {
        service.Alive();
        SocketEvent event{};
        if (sockets.Wait(clock.MillisecondsToNext(), &event)) {
            timers.OnSocketEvent(event);
        }
        for (const Timer timer : {Timer::kHeartbeat, Timer::kLink}) {
            if (clock.TakeDue(timer)) {
                timers.OnTick(timer);
            }
        }
    }
    station.CloseAndExit("the site was stopped");
    return 0;
}
