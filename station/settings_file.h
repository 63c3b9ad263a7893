// The configuration file as a station uses it: every failure is told to the operator through
// the station's view, in one place, whoever reads or saves.
#pragma once

#include "settings/settings_store.h"
#include "station/station_view.h"

// 1, or 0 when the file exists but could not be read (the run goes on with the defaults).
int ReadSettingsFile(SettingsStore& settings, StationView& view);
// 1, or 0 when the save did not reach the disk.
int SaveSettingsFile(SettingsStore& settings, StationView& view);
// The save that comes with closing the keyer, which the operator does not ask for: skipped
// while the file holds what this run could not read.
int SaveSettingsFileAtClose(SettingsStore& settings, StationView& view);
