// The dialog is driven, not imitated: a station is made for the file as the program makes it,
// its Setup form opened, the named controls changed and the clicks they would see made, and
// "Done" pressed. So `set` refuses exactly what the dialog refuses, in its words, and stores
// exactly what the dialog stores. The dialog's boxes have no window here: each becomes a
// line on the error stream, "<caption>: <text>".
//
// Two things a person at the dialog could not do are refused before "Done": changing a
// control the dialog greys out (a person cannot click it), and typing a list entry the list
// does not hold (the stored value would depend on text the dialog ignores).
//
// What "Done" passes is saved, but the dialog has rules of its own: on a network the role
// decides the echoes, a role is kept only with a network, a number field keeps the number it
// reads. Each named control the next opening shows otherwise is said, so nobody takes a
// setting for stored that was not.
//
// One thing is left alone unless named: the Output Setup list means different pins for the
// two keyer generations, and which one the site drives is known only once its keyer answers,
// which never happens here; an unnamed list with no position chosen keeps the stored pins.
#include "site/config_command.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "app/setup_form.h"
#include "app/window.h"
#include "station/station.h"

namespace {

enum class Kind {
    kEdit,     // its text
    kCheck,    // on or off
    kList,     // one of its entries
    kNetwork,  // one of the three "Network I/F" radio buttons
};

struct Setting {
    const char* name;
    int id;
    Kind kind;
};

// Every control of the dialog that holds a setting, top-left down then across, as the
// template lays them out; the unlabelled ones are named after their group.
const Setting kSettings[] = {
    {"Open TCP/IP Connection", IDC_SETUP_OPEN_AT_START, Kind::kCheck},
    {"Weight", IDC_SETUP_WEIGHT, Kind::kEdit},
    {"LeadIn", IDC_SETUP_LEAD_IN, Kind::kEdit},
    {"Tail", IDC_SETUP_TAIL, Kind::kEdit},
    {"Farns", IDC_SETUP_FARNS, Kind::kEdit},
    {"Ratio", IDC_SETUP_RATIO, Kind::kEdit},
    {"Comp", IDC_SETUP_COMP, Kind::kEdit},
    {"1stExt", IDC_SETUP_FIRST_EXT, Kind::kEdit},
    {"Sample", IDC_SETUP_SAMPLE, Kind::kEdit},
    {"Swap", IDC_SETUP_SWAP, Kind::kCheck},
    {"AutoSpace", IDC_SETUP_AUTOSPACE, Kind::kCheck},
    {"CT Spacing", IDC_SETUP_CT_SPACING, Kind::kCheck},
    {"Paddle Dog", IDC_SETUP_PADDLE_DOG, Kind::kCheck},
    {"Paddle Echo", IDC_SETUP_PADDLE_ECHO, Kind::kCheck},
    {"Serial Echo", IDC_SETUP_SERIAL_ECHO, Kind::kCheck},
    {"Enable PTT", IDC_SETUP_ENABLE_PTT, Kind::kCheck},
    {"Letter Paddle", IDC_SETUP_LETTER_PADDLE, Kind::kCheck},
    {"Max WPM", IDC_SETUP_MAX_WPM, Kind::kEdit},
    {"Min WPM", IDC_SETUP_MIN_WPM, Kind::kEdit},
    {"Pot Lock", IDC_SETUP_POT_LOCK, Kind::kCheck},
    {"Paddle Only", IDC_SETUP_PADDLE_ONLY, Kind::kCheck},
    {"Freq", IDC_SETUP_FREQ, Kind::kList},
    {"Network I/F", IDC_SETUP_NET_OFF, Kind::kNetwork},
    {"IP Address", IDC_SETUP_IP_ADDRESS, Kind::kEdit},
    {"IP Port", IDC_SETUP_IP_PORT, Kind::kEdit},
    {"IP Addr Override", IDC_SETUP_IP_OVERRIDE, Kind::kCheck},
    {"Remote Sidetone", IDC_SETUP_REMOTE_SIDETONE, Kind::kCheck},
    {"Role", IDC_SETUP_ROLE, Kind::kList},
    {"CW Mode", IDC_SETUP_CW_MODE, Kind::kList},
    {"Paddle Hang", IDC_SETUP_PADDLE_HANG, Kind::kList},
    {"Local Tarvel Port", IDC_SETUP_PORT, Kind::kList},
    {"Local Tarvel Port Enable", IDC_SETUP_PORT_ENABLE, Kind::kCheck},
    {"Output Setup", IDC_SETUP_OUTPUT, Kind::kList},
};

struct NetworkChoice {
    int id;
    const char* label;
};
const NetworkChoice kNetworkChoices[] = {
    {IDC_SETUP_NET_OFF, "Network Off"},
    {IDC_SETUP_NET_CLIENT, "Net Client"},
    {IDC_SETUP_NET_SERVER, "Net Server"},
};

const char kUsage[] = "config takes \"show\", or \"set\" followed by NAME VALUE pairs\n";

// The dialog's boxes as lines on `err`; the window's other calls have no window to reach.
class BoxesToStream final : public WindowBackend {
  public:
    explicit BoxesToStream(std::ostream& err) : err_(err) {}
    BoxesToStream(const BoxesToStream&) = delete;
    BoxesToStream& operator=(const BoxesToStream&) = delete;

    int shown() const { return shown_; }

    WindowHandle Handle() override { return kNoOwner; }
    void SetControlText(int, const std::string&) override {}
    std::string GetControlText(int) override { return {}; }
    void SetSelection(int, int, int) override {}
    void ReplaceSelection(int, const std::string&) override {}
    void EnableControl(int, bool) override {}
    void FocusControl(int) override {}
    int ShowMessageBox(WindowHandle, const std::string& text, const std::string& caption,
                       BoxIcon) override {
        err_ << caption << ": " << text << '\n';
        ++shown_;
        return 1;
    }

  private:
    std::ostream& err_;
    int shown_ = 0;
};

// The station the dialog belongs to, made and started as the program starts it: a missing
// file is made from the defaults.
struct StationForFile {
    StationForFile(std::ostream& err, const std::string& config_path)
        : boxes(err), view(boxes), station(view, view, nullptr, SetupFor(config_path)) {
        station.Start();
    }
    static StationSetup SetupFor(const std::string& config_path) {
        StationSetup setup;
        setup.config_path = config_path;
        return setup;
    }

    BoxesToStream boxes;
    MainWindowView view;
    Station station;
};

bool SameLetters(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

const Setting* FindSetting(const std::string& name) {
    for (const Setting& setting : kSettings) {
        if (SameLetters(name, setting.name)) {
            return &setting;
        }
    }
    return nullptr;
}

// Opening fills every control's state, so each is there to read.
std::string ShownValue(const SetupForm& form, const Setting& setting) {
    switch (setting.kind) {
        case Kind::kEdit:
            return form.texts.at(setting.id);
        case Kind::kCheck:
            return form.checks.at(setting.id) ? "on" : "off";
        case Kind::kList: {
            const std::vector<std::string>& entries = form.entries.at(setting.id);
            const int position = form.selections.at(setting.id);
            const bool chosen = position >= 0 && static_cast<size_t>(position) < entries.size();
            return chosen ? entries[position] : std::string();
        }
        case Kind::kNetwork:
            for (const NetworkChoice& choice : kNetworkChoices) {
                if (form.checks.at(choice.id)) {
                    return choice.label;
                }
            }
            return std::string();
    }
    return std::string();
}

bool GreyedOut(const SetupForm& form, int id) {
    const auto found = form.enabled.find(id);
    return found != form.enabled.end() && !found->second;
}

std::optional<bool> CheckValue(const std::string& value) {
    for (const char* on : {"on", "yes", "1"}) {
        if (SameLetters(value, on)) {
            return true;
        }
    }
    for (const char* off : {"off", "no", "0"}) {
        if (SameLetters(value, off)) {
            return false;
        }
    }
    return std::nullopt;
}

bool SameValue(const Setting& setting, const std::string& asked, const std::string& shown) {
    if (setting.kind == Kind::kCheck) {
        return CheckValue(asked) == (shown == "on");
    }
    return SameLetters(asked, shown);
}

std::string Joined(const std::vector<std::string>& words) {
    std::string joined;
    for (const std::string& word : words) {
        joined += (joined.empty() ? "" : ", ") + word;
    }
    return joined;
}

// A person's clicks and typing into one control. Empty, or why the value cannot be given.
std::string ChangeControl(const Setting& setting, const std::string& value, SetupForm* form) {
    const std::string name = setting.name;
    switch (setting.kind) {
        case Kind::kEdit:
            form->texts[setting.id] = value;
            return {};
        case Kind::kCheck: {
            const std::optional<bool> checked = CheckValue(value);
            if (!checked) {
                return name + " is on or off (also yes/no, 1/0), not \"" + value + "\"";
            }
            if (form->checks[setting.id] != *checked) {
                form->checks[setting.id] = *checked;
                ReactToSetupClick(setting.id, form);
            }
            return {};
        }
        case Kind::kList: {
            const std::vector<std::string>& entries = form->entries[setting.id];
            for (size_t i = 0; i < entries.size(); ++i) {
                if (SameLetters(value, entries[i])) {
                    form->selections[setting.id] = static_cast<int>(i);
                    return {};
                }
            }
            if (entries.empty()) {
                return name + " has no entries here";
            }
            return name + " is one of: " + Joined(entries);
        }
        case Kind::kNetwork: {
            std::vector<std::string> labels;
            for (const NetworkChoice& choice : kNetworkChoices) {
                labels.push_back(choice.label);
                if (SameLetters(value, choice.label)) {
                    for (const NetworkChoice& other : kNetworkChoices) {
                        form->checks[other.id] = other.id == choice.id;
                    }
                    ReactToSetupClick(choice.id, form);
                    return {};
                }
            }
            return name + " is one of: " + Joined(labels);
        }
    }
    return {};
}

// A file that exists but could not be read: the station runs on the defaults, and the dialog
// replaces such a file only when a person agrees, which nobody can here.
bool FileUnread(StationForFile& on_file, const std::string& config_path, const char* outcome,
                std::ostream& err) {
    if (!on_file.station.settings().StoredFileUnread()) {
        return false;
    }
    err << "The configuration file " << config_path << " could not be read; " << outcome << '\n';
    return true;
}

int Show(const std::string& config_path, std::ostream& out, std::ostream& err) {
    StationForFile on_file(err, config_path);
    const bool unread = FileUnread(on_file, config_path, "these are the defaults", err);
    const SetupForm form = OpenSetupForm(on_file.station);
    for (const Setting& setting : kSettings) {
        out << setting.name << " = " << ShownValue(form, setting) << '\n';
    }
    return unread || on_file.boxes.shown() != 0 ? 1 : 0;
}

int Set(const std::vector<std::string>& pairs, const std::string& config_path, std::ostream& err) {
    std::vector<const Setting*> named;
    for (size_t i = 0; i < pairs.size(); i += 2) {
        const Setting* setting = FindSetting(pairs[i]);
        if (setting == nullptr) {
            std::vector<std::string> names;
            for (const Setting& known : kSettings) {
                names.push_back(known.name);
            }
            err << "No setting is called \"" << pairs[i]
                << "\"; the settings are: " << Joined(names) << '\n';
            return 2;
        }
        named.push_back(setting);
    }

    StationForFile on_file(err, config_path);
    if (on_file.boxes.shown() != 0) {
        return 1;
    }
    if (FileUnread(on_file, config_path, "nothing saved", err)) {
        return 1;
    }
    SetupForm form = OpenSetupForm(on_file.station);
    const auto output_named = std::find_if(
        named.begin(), named.end(), [](const Setting* s) { return s->id == IDC_SETUP_OUTPUT; });
    if (output_named == named.end()) {
        form.selections[IDC_SETUP_OUTPUT] = kNoSelection;
    }
    for (size_t i = 0; i < named.size(); ++i) {
        const std::string refusal = ChangeControl(*named[i], pairs[2 * i + 1], &form);
        if (!refusal.empty()) {
            err << refusal << "; nothing saved\n";
            return 2;
        }
    }
    // Checked once every click is made: a click may enable another control, in any order.
    for (const Setting* setting : named) {
        if (GreyedOut(form, setting->id)) {
            err << setting->name
                << " is greyed out in the Setup dialog with these settings and no keyer attached; "
                   "nothing saved\n";
            return 2;
        }
    }
    if (!FinishSetupForm(&form, on_file.boxes, kNoOwner, on_file.station) ||
        on_file.boxes.shown() != 0) {
        return 1;
    }
    const SetupForm kept = OpenSetupForm(on_file.station);
    for (size_t i = 0; i < named.size(); ++i) {
        const std::string& asked = pairs[2 * i + 1];
        const std::string shown = ShownValue(kept, *named[i]);
        if (!SameValue(*named[i], asked, shown)) {
            err << named[i]->name << " = " << shown << ": the dialog did not keep \"" << asked
                << "\"\n";
        }
    }
    return 0;
}

}  // namespace

int RunConfigCommand(const std::vector<std::string>& words, const std::string& config_path,
                     std::ostream& out, std::ostream& err) {
    if (words.size() == 1 && words[0] == "show") {
        return Show(config_path, out, err);
    }
    if (words.size() >= 3 && words.size() % 2 == 1 && words[0] == "set") {
        return Set(std::vector<std::string>(words.begin() + 1, words.end()), config_path, err);
    }
    err << kUsage;
    return 2;
}
