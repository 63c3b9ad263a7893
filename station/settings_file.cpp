#include "station/settings_file.h"

#include "settings/config_file.h"

namespace {

int Reported(int saved, StationView& view) {
    if (saved == 0) {
        view.ReportProblem(Problem::kConfigNotSaved);
    }
    return saved;
}

}  // namespace

int ReadSettingsFile(StationView& view) {
    switch (ReadConfigFile()) {
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

int SaveSettingsFile(StationView& view) {
    return Reported(SaveConfigFile(), view);
}

int SaveSettingsFileAtClose(StationView& view) {
    return Reported(SaveConfigFileAtClose(), view);
}
