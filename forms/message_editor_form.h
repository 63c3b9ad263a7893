// The Message Editor's behaviour over its fields, by what they hold: the dialog's controls on
// Windows, a recording editor in tests. The dialog procedure only passes its commands on.
#pragma once

#include <string>

class Station;

// A position in the message text: its end, wherever that is.
constexpr int kMessageTextEnd = -1;

// The editor's fields.
class MessageEditorFields {
  public:
    virtual ~MessageEditorFields() = default;

    virtual void ShowHeading(const std::string& heading) = 0;
    // The number the token buttons take.
    virtual std::string ArgumentText() = 0;
    virtual std::string MessageText() = 0;
    // Selects characters `start` to `end` of the message text (clamped to it); a selection of
    // no characters is the caret.
    virtual void SelectInMessage(int start, int end) = 0;
    // Replaces the selection with `text`; the caret ends after it.
    virtual void ReplaceSelectionInMessage(const std::string& text) = 0;
    virtual void FocusMessage() = 0;
};

enum class EditorCommand {
    kRestore,  // the stored text back
    kSave,
    kClose,  // Cancel, or the dialog's own close: nothing stored
    // The token buttons.
    kInsertPttOn,
    kInsertPttOff,
    kInsertMerge,
    kInsertCancelSpeed,
    kInsertSpeed,  // these three with the argument field's number
    kInsertKey,
    kInsertWait,
};

// The token `command` inserts ("[S%02d]", "[K%02d]", "[W%02d]" for the three that take the
// argument field's number; a field that holds no number gives 0); empty for a command that
// inserts none.
std::string MessageTokenText(EditorCommand command, const std::string& argument_text);

// Fills the editor with `station`'s message `number` (1..6) and returns that number, to which
// the editor stays bound; 0, and nothing filled, for any other value.
int OpenMessageEditor(MessageEditorFields& editor, int number, Station& station);

// One command of the editor bound to `message_number`. True when the editor is to close:
// after Save (which stores at most 255 characters through `station` and saves its file,
// whether or not the save goes through), and on kClose, which stores nothing.
bool MessageEditorCommand(MessageEditorFields& editor, int message_number, EditorCommand command,
                          Station& station);
