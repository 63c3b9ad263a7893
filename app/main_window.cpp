#include "app/main_window.h"

#include <string>

#include "app/resource_ids.h"
#include "app/runtime_state.h"
#include "app/status_texts.h"
#include "settings/config_file.h"
#include "settings/settings_record.h"

void InitializeMainWindowState(WindowHandle main_window) {
    ReadConfigFile(main_window);

    // A stored speed of 0 means the keyer's speed pot sets the speed: the field then stays
    // empty and disabled until the pot reports.
    if (settings.keyer_settings.wpm == 0) {
        EnableControl(IDC_WPM, false);
        pot_speed_active = 1;
    } else {
        SetControlText(IDC_WPM, std::to_string(settings.keyer_settings.wpm));
        EnableControl(IDC_WPM, true);
        pot_speed_active = 0;
    }

    net_connected = 0;
    net_pending = 0;
    remote_busy = 0;

    SetControlText(IDC_LOCAL_STATUS, kLocalKeyerClosedText);
    SetControlText(IDC_REMOTE_STATUS, "Remote Tarvel Closed");
    SetControlText(IDC_NET_STATUS, "No Network Connection");
}
