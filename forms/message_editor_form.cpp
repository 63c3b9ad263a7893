#include "forms/message_editor_form.h"

#include <cstdint>
#include <cstdio>

#include "messages/message_parser.h"
#include "settings/field_number.h"
#include "settings/settings_record.h"
#include "station/station.h"

namespace {

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

std::string MessageTokenText(EditorCommand command, const std::string& argument_text) {
    const uint32_t argument = UnsignedFromText(argument_text).value_or(0);
    switch (command) {
        case EditorCommand::kInsertPttOn:
            return FixedToken(kTokenPttOn);
        case EditorCommand::kInsertPttOff:
            return FixedToken(kTokenPttOff);
        case EditorCommand::kInsertMerge:
            return FixedToken(kTokenMerge);
        case EditorCommand::kInsertCancelSpeed:
            return FixedToken(kTokenCancelSpeed);
        case EditorCommand::kInsertSpeed:
            return ArgumentToken(kTokenSpeed, argument);
        case EditorCommand::kInsertKey:
            return ArgumentToken(kTokenKey, argument);
        case EditorCommand::kInsertWait:
            return ArgumentToken(kTokenWait, argument);
        case EditorCommand::kRestore:
        case EditorCommand::kSave:
        case EditorCommand::kClose:
            break;
    }
    return {};
}

int OpenMessageEditor(MessageEditorFields& editor, int number, Station& station) {
    if (!IsMessageNumber(number)) {
        return 0;
    }
    editor.ReplaceSelectionInMessage(station.StoredMessage(number));
    editor.ShowHeading("Message " + std::to_string(number));
    // Typing and the insert buttons go on at the end of the text, rather than replacing the
    // whole of it as a field that takes the focus with everything selected would.
    editor.FocusMessage();
    editor.SelectInMessage(kMessageTextEnd, kMessageTextEnd);
    return number;
}

bool MessageEditorCommand(MessageEditorFields& editor, int message_number, EditorCommand command,
                          Station& station) {
    if (!IsMessageNumber(message_number)) {
        return false;  // the text field's notifications while the editor is being filled
    }
    switch (command) {
        case EditorCommand::kRestore:
            editor.SelectInMessage(0, kMessageTextEnd);
            editor.ReplaceSelectionInMessage(station.StoredMessage(message_number));
            editor.FocusMessage();
            return false;
        case EditorCommand::kSave:
            station.SaveMessage(message_number, editor.MessageText());
            return true;
        case EditorCommand::kClose:
            return true;
        default:
            break;
    }
    editor.ReplaceSelectionInMessage(MessageTokenText(command, editor.ArgumentText()));
    editor.FocusMessage();
    return false;
}
