// A station as the program makes it, showing itself in the recording window through the Main
// window's own view, with its configuration file in a folder of its own. A fixture takes it
// as a base, and its cases use the members by name.
#pragma once

#include <utility>

#include "app/main_window_view.h"
#include "messages/message_sender.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

class StationOnFile {
  protected:
    // `carry_out_messages` as StationSetup says.
    explicit StationOnFile(MessageSender::CarryOut carry_out_messages = {})
        : station(view, view, nullptr,
                  StationSetup{folder.File("pellmar.cfg"), {}, std::move(carry_out_messages), {}}) {
    }

    TempFolder folder;
    RecordingWindow window;
    MainWindowView view{window};
    Station station;
    SettingsStore& store = station.settings();
    SettingsRecord& settings = store.record();
};
