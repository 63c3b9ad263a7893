#include "station/settings_file.h"

namespace {

constexpr char kUnreadableFileLine[] =
    "\r\nRead config file failed: running on the defaults; the file is kept as it is.";

int Reported(int saved, StationView& view) {
    if (saved == 0) {
        view.ReportProblem(Problem::kConfigNotSaved);
    }
    return saved;
}

}  // namespace

int ReadSettingsFile(SettingsStore& settings, StationView& view, ConnectLog& log) {
    switch (settings.Read()) {
        case ConfigRead::kRead:
            return 1;
        case ConfigRead::kUnreadable:
            log.Append(kUnreadableFileLine);
            return 0;
        case ConfigRead::kDefaultsNotSaved:
            view.ReportProblem(Problem::kConfigNotSaved);
            return 1;
    }
    return 1;
}

int SaveSettingsFile(SettingsStore& settings, StationView& view) {
    if (settings.StoredFileUnread() && !view.ConfirmReplaceUnreadConfig()) {
        return 1;
    }
    return Reported(settings.Save(), view);
}

int SaveSettingsFileAtClose(SettingsStore& settings, StationView& view) {
    return Reported(settings.SaveAtClose(), view);
}
