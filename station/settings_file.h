// The configuration file as a station uses it: every failure is told to the operator in one
// place, whoever reads or saves. A file that could not be read at start goes into the Connect
// log rather than a box, since an unattended site must not wait for a click; a save that would
// replace that file asks the operator first.
#pragma once

#include "settings/settings_store.h"
#include "station/station_view.h"

// 1, or 0 when the file exists but could not be read (the run goes on with the defaults).
int ReadSettingsFile(SettingsStore& settings, StationView& view, ConnectLog& log);
// The operator's save. 1, or 0 when the save did not reach the disk. While the file holds what
// this run could not read, it is written only when the operator agrees; otherwise the change
// stays in memory for this run and 1 is returned, since nothing failed.
int SaveSettingsFile(SettingsStore& settings, StationView& view);
// The save that comes with closing the keyer, which the operator does not ask for: skipped
// while the file holds what this run could not read.
int SaveSettingsFileAtClose(SettingsStore& settings, StationView& view);
