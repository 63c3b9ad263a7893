// A station as the program makes it, showing itself in the recording window through the Main
// window's own view, with its configuration file in a folder of its own, where its COM port n
// is the file `com<n>`. A fixture takes it as a base, and its cases use the members by name.
#pragma once

#include <utility>

#include "app/main_window_view.h"
#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "net/socket_api.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

class StationOnFile {
  protected:
    // `carry_out_messages` and `keyer_writer_held` as StationSetup says.
    explicit StationOnFile(MessageSender::CarryOut carry_out_messages = {},
                           KeyerLink::WriterHold keyer_writer_held = {})
        : station(view, view, sockets,
                  StationSetup{folder.File("pellmar.cfg"),
                               {},
                               std::move(carry_out_messages),
                               std::move(keyer_writer_held),
                               kReconnectWaits,
                               KeyerPortPlace{{}, folder.File("com%d")}}) {}

    TempFolder folder;
    RecordingWindow window;
    MainWindowView view{window};
    SocketLoop sockets;
    Station station;
    SettingsStore& store = station.settings();
    SettingsRecord& settings = store.record();
};
