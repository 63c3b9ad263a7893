// The Message Editor's behaviour, over its controls seen through a WindowBackend (the
// dialog's own controls on Windows, a recording window in tests). The dialog procedure only
// passes its messages on.
#pragma once

#include <string>

#include "app/window.h"

class Station;

// The token an insert button writes, with the argument field's number for the three that
// take one ("[S%02d]", "[K%02d]", "[W%02d]"; a field that holds no number gives 0); empty for
// any other id.
std::string MessageTokenText(int button_id, const std::string& argument_text);

// Fills the editor with `station`'s message `number` (1..6) and returns that number, to which
// the editor stays bound; 0, and nothing filled, for any other value.
int OpenMessageEditor(WindowBackend& editor, int number, Station& station);

// One command of the editor bound to `message_number`. True when the dialog is to close:
// after Save (which stores at most 255 characters through `station`'s sender, writes the
// configuration file and reports a failed write to the station's view), and on Cancel or
// Escape, which store nothing.
bool MessageEditorCommand(WindowBackend& editor, int message_number, int id, Station& station);
