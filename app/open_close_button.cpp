#include "app/open_close_button.h"

#include <chrono>
#include <string>
#include <thread>

#include "app/resource_ids.h"
#include "app/runtime_state.h"
#include "app/status_texts.h"
#include "keyer/keyer_commands.h"
#include "keyer/keyer_host.h"
#include "keyer/keyer_reader.h"
#include "net/connection.h"
#include "net/link_events.h"
#include "net/link_state.h"
#include "net/packet_protocol.h"
#include "settings/config_file.h"
#include "settings/settings_record.h"

namespace {

constexpr auto kServerStartupWait = std::chrono::milliseconds(30000);
constexpr auto kAfterStartupOpen = std::chrono::milliseconds(250);
constexpr auto kAfterButtonOpen = std::chrono::milliseconds(100);

// Nothing of the station is open: the next press of Open/Close opens it. A Net Server whose
// client has gone has both flags down but still listens, and is not closed.
bool StationClosed() {
    return local_keyer_open.load() == 0 && net_pending.load() == 0 && net_connected.load() == 0 &&
           !IsNetworkHeld();
}

void OpenStation(WindowHandle main_window, std::chrono::milliseconds settle) {
    if (OpenConnection(main_window) == 0) {
        return;  // the caption stays "Open"; the Connect log says why
    }
    SetControlText(IDC_OPEN_CLOSE, "Close");
    std::this_thread::sleep_for(settle);
    pause_on = 0;
}

}  // namespace

void RunStartupConnection(WindowHandle main_window) {
    if (settings.open_at_startup == 0) {
        return;
    }
    if ((settings.net_flags & kNetModeServer) != 0) {
        std::this_thread::sleep_for(kServerStartupWait);
    }
    OpenStation(main_window, kAfterStartupOpen);
}

void OnOpenCloseButton(WindowHandle main_window) {
    // A listening Net Server without a client is under the caption "Close": that press
    // closes, or the next Open could never bind the port.
    if (StationClosed()) {
        OpenStation(main_window, kAfterButtonOpen);
    } else {
        // Before the keyer's close: its writer puts key-up and paddle release on the wire
        // ahead of the host close, and the link's end finds nothing left to release.
        ReleaseKeyerControl();
        if (local_keyer_open.load() == 1) {
            SaveConfigFileAtClose();
            SetKeyerBaseMode();
            CloseKeyerHost();
            local_keyer_open = 0;
            SetControlText(IDC_LOCAL_STATUS, kLocalKeyerClosedText);
        }
        CloseNetworkFromButton();
        SetControlText(IDC_OPEN_CLOSE, "Open");
    }
    FocusControl(IDC_LOG_PANE);
}

void CloseLocalKeyerIfLost() {
    if (local_keyer_open.load() != 1 || !KeyerPortLost()) {
        return;
    }
    if (!IsLinked()) {
        // Unlinked, all the station holds for a keyer is this one's: a stored message stops
        // rather than go on as if keyed, Tune and Pause read released, and the busy and wait
        // fields no longer show a keyer's last word. Linked, those belong to the link.
        ReleaseKeyerControl();
        SetControlText(IDC_BUSY_STATUS, kBlankText);
        SetControlText(IDC_WAIT_STATUS, kBlankText);
    }
    // The host close goes nowhere, but it stops the keyer's threads and gives the port back,
    // so that Open can attach the keyer again once it is plugged back in.
    CloseKeyerHost();
    local_keyer_open = 0;
    SetControlText(IDC_LOCAL_STATUS, kLocalKeyerLostText);
    ReplaceSelection(IDC_LOG_PANE, "\r\nLocal Tarvel lost: COM" +
                                       std::to_string(static_cast<int>(settings.com_port)) +
                                       " stopped answering.");
    RetellKeyerVersion();
    if (StationClosed()) {
        SetControlText(IDC_OPEN_CLOSE, "Open");
    }
}
