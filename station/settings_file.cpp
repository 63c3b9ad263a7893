#include "station/settings_file.h"

namespace {

int Reported(int saved, StationView& view) {
    if (saved == 0) {
        view.ReportProblem(Problem::kConfigNotSaved);
    }
    return saved;
}

}  // namespace

int ReadSettingsFile(SettingsStore& settings, StationView& view) {
    switch (settings.Read()) {
        case ConfigRead::kRead:
            return 1;
        case ConfigRead::kUnreadable:
            view.ReportProblem(Problem::kConfigUnreadable);
            return 0;
        case ConfigRead::kDefaultsNotSaved:
            view.ReportProblem(Problem::kConfigNotSaved);
            return 1;
    }
    return 1;
}

int SaveSettingsFile(SettingsStore& settings, StationView& view) {
    return Reported(settings.Save(), view);
}

int SaveSettingsFileAtClose(SettingsStore& settings, StationView& view) {
    return Reported(settings.SaveAtClose(), view);
}
