#include "app/message_editor_form.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/resource_ids.h"
#include "messages/message_parser.h"
#include "settings/field_number.h"
#include "station/settings_file.h"
#include "station/station.h"

namespace {

// The dialog manager's command for Escape.
constexpr int kEscapeCommand = 2;

bool IsMessageNumber(int number) {
    return number >= 1 && number <= kMessageCount;
}

std::string FixedToken(char letter) {
    return {kTokenOpen, letter, kTokenClose};
}

std::string ArgumentToken(char letter, uint32_t argument) {
    char text[16];
    std::snprintf(text, sizeof text, "%c%c%02u%c", kTokenOpen, letter, argument, kTokenClose);
    return text;
}

}  // namespace

std::string MessageTokenText(int button_id, const std::string& argument_text) {
    const uint32_t argument = UnsignedFromText(argument_text).value_or(0);
    switch (button_id) {
        case IDC_EDITOR_SET_PTT:
            return FixedToken(kTokenPttOn);
        case IDC_EDITOR_CLEAR_PTT:
            return FixedToken(kTokenPttOff);
        case IDC_EDITOR_MERGE:
            return FixedToken(kTokenMerge);
        case IDC_EDITOR_CANCEL_WPM:
            return FixedToken(kTokenCancelSpeed);
        case IDC_EDITOR_SET_WPM:
            return ArgumentToken(kTokenSpeed, argument);
        case IDC_EDITOR_SET_KEY:
            return ArgumentToken(kTokenKey, argument);
        case IDC_EDITOR_SET_WAIT:
            return ArgumentToken(kTokenWait, argument);
        default:
            return {};
    }
}

int OpenMessageEditor(WindowBackend& editor, int number, Station& station) {
    if (!IsMessageNumber(number)) {
        return 0;
    }
    editor.ReplaceSelection(IDC_EDITOR_TEXT, station.StoredMessage(number));
    editor.SetControlText(IDC_EDITOR_HEADING, "Message " + std::to_string(number));
    // Typing and the insert buttons go on at the end of the text, rather than replacing the
    // whole of it as a field that takes the focus with everything selected would.
    editor.FocusControl(IDC_EDITOR_TEXT);
    editor.SetSelection(IDC_EDITOR_TEXT, kTextEnd, kTextEnd);
    return number;
}

bool MessageEditorCommand(WindowBackend& editor, int message_number, int id, Station& station) {
    if (!IsMessageNumber(message_number)) {
        return false;  // the text field's notifications while the editor is being filled
    }
    switch (id) {
        case IDC_EDITOR_RESTORE:
            editor.SetSelection(IDC_EDITOR_TEXT, 0, kTextEnd);
            editor.ReplaceSelection(IDC_EDITOR_TEXT, station.StoredMessage(message_number));
            editor.FocusControl(IDC_EDITOR_TEXT);
            return false;
        case IDC_EDITOR_SAVE: {
            station.StoreMessage(message_number, editor.GetControlText(IDC_EDITOR_TEXT));
            // The editor closes whether or not the write went through.
            SaveSettingsFile(station.settings(), station.view());
            return true;
        }
        case IDC_EDITOR_CANCEL:
        case kEscapeCommand:
            return true;
        default:
            break;
    }
    const std::string token = MessageTokenText(id, editor.GetControlText(IDC_EDITOR_ARGUMENT));
    if (!token.empty()) {
        editor.ReplaceSelection(IDC_EDITOR_TEXT, token);
        editor.FocusControl(IDC_EDITOR_TEXT);
    }
    return false;
}
