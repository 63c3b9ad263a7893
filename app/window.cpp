#include "app/window.h"

#include <algorithm>

namespace {

// Before `inserting` characters go in.
void MakeRoom(WindowBackend& window, const KeptText& bounds, std::size_t inserting) {
    const int id = bounds.id;
    const auto length = static_cast<std::size_t>(std::max(window.TextLength(id), 0));
    if (inserting == 0 || length + inserting <= static_cast<std::size_t>(bounds.limit)) {
        return;
    }
    const auto kept = static_cast<std::size_t>(bounds.after_cut);
    // An insertion longer than what is kept replaces everything and stays whole.
    std::size_t cut = inserting >= kept ? length : std::min(length, length + inserting - kept);
    if (cut > 0 && cut < length) {
        // A line break is two characters; the log pane must not start with half of one.
        const std::string text = window.GetControlText(id);
        if (cut < text.size() && text[cut - 1] == '\r' && text[cut] == '\n') {
            ++cut;
        }
    }
    window.SetSelection(id, 0, static_cast<int>(cut));
    window.ReplaceSelection(id, "");
    window.SetSelection(id, kTextEnd, kTextEnd);
}

}  // namespace

const KeptText* KeptTextOf(int id) {
    for (const KeptText& kept : kKeptTexts) {
        if (kept.id == id) {
            return &kept;
        }
    }
    return nullptr;
}

void InsertText(WindowBackend& window, int id, const std::string& text) {
    if (const KeptText* bounds = KeptTextOf(id); bounds != nullptr) {
        MakeRoom(window, *bounds, text.size());
    }
    window.ReplaceSelection(id, text);
}

void AppendText(WindowBackend& window, int id, const std::string& text) {
    window.SetSelection(id, kTextEnd, kTextEnd);
    InsertText(window, id, text);
}
