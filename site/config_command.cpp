// The dialog is driven, not imitated: a station is made for the file as the program makes it,
// its Setup form opened, the named controls changed and the clicks they would see made, and
// "Done" pressed. So `set` refuses exactly what the dialog refuses, in its words, and stores
// exactly what the dialog stores. The dialog's boxes have no window here: each refusal, and
// each problem the station would report in a box, becomes a line on the error stream,
// "<caption>: <text>".
//
// Two things a person at the dialog could not do are refused before "Done": changing a
// field the dialog greys out (a person cannot click it), and typing a list entry the list
// does not hold (the stored value would depend on text the dialog ignores).
//
// What "Done" passes is saved, but the dialog has rules of its own: on a network the role
// decides the echoes, a role is kept only with a network, a number field keeps the number it
// reads. Each named field the next opening shows otherwise is said, so nobody takes a
// setting for stored that was not.
//
// `show` writes nothing, not even the defaults into a missing file: it reads through a disk
// that drops the station's own saves.
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

#include "forms/setup_form.h"
#include "forms/status_texts.h"
#include "net/socket_api.h"
#include "site/read_only_disk.h"
#include "station/station.h"
#include "station/station_view.h"

namespace {

enum class Kind {
    kEdit,     // its text
    kCheck,    // on or off
    kList,     // one of its entries
    kNetwork,  // one of the three "Network I/F" radio buttons
};

struct Setting {
    const char* name;
    SetupField field;
    Kind kind;
};

// Every control of the dialog that holds a setting, top-left down then across, as the
// template lays them out; the unlabelled ones are named after their group.
const Setting kSettings[] = {
    {"Open TCP/IP Connection", SetupField::kOpenAtStart, Kind::kCheck},
    {"Weight", SetupField::kWeight, Kind::kEdit},
    {"LeadIn", SetupField::kLeadIn, Kind::kEdit},
    {"Tail", SetupField::kTail, Kind::kEdit},
    {"Farns", SetupField::kFarnsworth, Kind::kEdit},
    {"Ratio", SetupField::kRatio, Kind::kEdit},
    {"Comp", SetupField::kCompensation, Kind::kEdit},
    {"1stExt", SetupField::kFirstExtension, Kind::kEdit},
    {"Sample", SetupField::kSample, Kind::kEdit},
    {"Swap", SetupField::kSwap, Kind::kCheck},
    {"AutoSpace", SetupField::kAutoSpace, Kind::kCheck},
    {"CT Spacing", SetupField::kCtSpacing, Kind::kCheck},
    {"Paddle Dog", SetupField::kPaddleDog, Kind::kCheck},
    {"Paddle Echo", SetupField::kPaddleEcho, Kind::kCheck},
    {"Serial Echo", SetupField::kSerialEcho, Kind::kCheck},
    {"Enable PTT", SetupField::kEnablePtt, Kind::kCheck},
    {"Letter Paddle", SetupField::kLetterPaddle, Kind::kCheck},
    {"Max WPM", SetupField::kMaxWpm, Kind::kEdit},
    {"Min WPM", SetupField::kMinWpm, Kind::kEdit},
    {"Pot Lock", SetupField::kPotLock, Kind::kCheck},
    {"Paddle Only", SetupField::kPaddleOnly, Kind::kCheck},
    {"Freq", SetupField::kSidetoneFrequency, Kind::kList},
    {"Network I/F", SetupField::kNetworkOff, Kind::kNetwork},
    {"IP Address", SetupField::kIpAddress, Kind::kEdit},
    {"IP Port", SetupField::kIpPort, Kind::kEdit},
    {"IP Addr Override", SetupField::kIpOverride, Kind::kCheck},
    {"Remote Sidetone", SetupField::kRemoteSidetone, Kind::kCheck},
    {"Role", SetupField::kRole, Kind::kList},
    {"CW Mode", SetupField::kCwMode, Kind::kList},
    {"Paddle Hang", SetupField::kPaddleHang, Kind::kList},
    {"Local Tarvel Port", SetupField::kKeyerPort, Kind::kList},
    {"Local Tarvel Port Enable", SetupField::kKeyerPortEnable, Kind::kCheck},
    {"Output Setup", SetupField::kOutputSetup, Kind::kList},
};

struct NetworkChoice {
    SetupField field;
    const char* label;
};
const NetworkChoice kNetworkChoices[] = {
    {SetupField::kNetworkOff, "Network Off"},
    {SetupField::kNetClient, "Net Client"},
    {SetupField::kNetServer, "Net Server"},
};

const char kUsage[] = "config takes \"show\", or \"set\" followed by NAME VALUE pairs\n";

// The station's view without a window: each problem the window would show in a box is a line
// on `err`, and the question whether to replace a file that could not be read is answered
// No, as nobody is there to agree. Nothing else has anywhere to be shown.
class ProblemsToStream final : public StationView, public ConnectLog {
  public:
    explicit ProblemsToStream(std::ostream& err) : err_(err) {}

    int reported() const { return reported_; }

    void ReportProblem(Problem problem) override {
        err_ << kProblemCaption << ": " << ProblemText(problem) << '\n';
        ++reported_;
    }
    bool ConfirmReplaceUnreadConfig() override { return false; }

    void Append(const std::string&) override {}
    void ShowNetworkStatus(NetworkStatus) override {}
    void ShowLocalKeyer(LocalKeyerState, uint8_t) override {}
    void ShowRemoteKeyerClosed() override {}
    void ShowRemoteKeyerVersion(uint8_t) override {}
    void ShowBusy(bool) override {}
    void ShowWait(WaitState) override {}
    void ShowSpeed(int) override {}
    void AllowSpeedEntry(bool) override {}
    void BlinkHeartbeat(bool) override {}
    void ShowPaddles(bool, bool) override {}
    void ShowTune(bool) override {}
    void ShowPause(bool) override {}
    void OfferOpen() override {}
    void OfferClose() override {}
    void ShowKeyerButtonPressed(int) override {}
    void InsertEcho(uint8_t) override {}
    void AppendTypedText(const std::string&) override {}
    void TakeBackTypedCharacter() override {}
    void ClearTypedText() override {}
    void FocusTyping() override {}
    void HoldInput(bool) override {}
    void RefuseTypedCharacter() override {}
    void ShowLinkHealth(const LinkHealth&) override {}
    void ShowKeyerPortFailure(const PortFailure&) override {}

  private:
    std::ostream& err_;
    int reported_ = 0;
};

// The station the dialog belongs to, made and started as the program starts it, on `disk`:
// on this machine's, a missing file is made from the defaults.
struct StationForFile {
    StationForFile(std::ostream& err, const std::string& config_path, const KeyerPortPlace& ports,
                   Disk& disk)
        : view(err), station(view, view, sockets, SetupFor(config_path, ports, disk)) {
        station.Start();
    }
    static StationSetup SetupFor(const std::string& config_path, const KeyerPortPlace& ports,
                                 Disk& disk) {
        StationSetup setup;
        setup.config_path = config_path;
        setup.keyer_port = ports;
        setup.config_disk = &disk;
        return setup;
    }

    ProblemsToStream view;
    // Never started: the command opens no link.
    SocketLoop sockets;
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
            return form.texts.at(setting.field);
        case Kind::kCheck:
            return form.checks.at(setting.field) ? "on" : "off";
        case Kind::kList: {
            const std::vector<std::string>& entries = form.entries.at(setting.field);
            const int position = form.selections.at(setting.field);
            const bool chosen = position >= 0 && static_cast<size_t>(position) < entries.size();
            return chosen ? entries[position] : std::string();
        }
        case Kind::kNetwork:
            for (const NetworkChoice& choice : kNetworkChoices) {
                if (form.checks.at(choice.field)) {
                    return choice.label;
                }
            }
            return std::string();
    }
    return std::string();
}

bool GreyedOut(const SetupForm& form, SetupField field) {
    const auto found = form.enabled.find(field);
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
            form->texts[setting.field] = value;
            return {};
        case Kind::kCheck: {
            const std::optional<bool> checked = CheckValue(value);
            if (!checked) {
                return name + " is on or off (also yes/no, 1/0), not \"" + value + "\"";
            }
            if (form->checks[setting.field] != *checked) {
                form->checks[setting.field] = *checked;
                ReactToSetupClick(setting.field, form);
            }
            return {};
        }
        case Kind::kList: {
            const std::vector<std::string>& entries = form->entries[setting.field];
            for (size_t i = 0; i < entries.size(); ++i) {
                if (SameLetters(value, entries[i])) {
                    form->selections[setting.field] = static_cast<int>(i);
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
                        form->checks[other.field] = other.field == choice.field;
                    }
                    ReactToSetupClick(choice.field, form);
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

int Show(const std::string& config_path, const KeyerPortPlace& ports, std::ostream& out,
         std::ostream& err) {
    ReadOnlyDisk disk;
    StationForFile on_file(err, config_path, ports, disk);
    const bool unread = FileUnread(on_file, config_path, "these are the defaults", err);
    if (disk.save_dropped()) {
        err << "The configuration file " << config_path
            << " does not exist or holds no configuration; these are the defaults\n";
    }
    const SetupForm form = OpenSetupForm(on_file.station);
    for (const Setting& setting : kSettings) {
        out << setting.name << " = " << ShownValue(form, setting) << '\n';
    }
    return unread || disk.save_dropped() || on_file.view.reported() != 0 ? 1 : 0;
}

// The settings `pairs` name, in order; empty, with the known names said, when one is unknown.
std::vector<const Setting*> NamedSettings(const std::vector<std::string>& pairs,
                                          std::ostream& err) {
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
            return {};
        }
        named.push_back(setting);
    }
    return named;
}

// The named fields changed as a person would change them; false, with why said, when one
// cannot be.
bool ChangeNamed(const std::vector<const Setting*>& named, const std::vector<std::string>& pairs,
                 SetupForm* form, std::ostream& err) {
    const auto output_named = std::find_if(named.begin(), named.end(), [](const Setting* s) {
        return s->field == SetupField::kOutputSetup;
    });
    if (output_named == named.end()) {
        form->selections[SetupField::kOutputSetup] = kNoSelection;
    }
    for (size_t i = 0; i < named.size(); ++i) {
        const std::string refusal = ChangeControl(*named[i], pairs[2 * i + 1], form);
        if (!refusal.empty()) {
            err << refusal << "; nothing saved\n";
            return false;
        }
    }
    // Checked once every click is made: a click may enable another field, in any order.
    for (const Setting* setting : named) {
        if (GreyedOut(*form, setting->field)) {
            err << setting->name
                << " is greyed out in the Setup dialog with these settings and no keyer attached; "
                   "nothing saved\n";
            return false;
        }
    }
    return true;
}

// Each named field that the next opening shows otherwise than it was asked.
void SayWhatWasNotKept(const std::vector<const Setting*>& named,
                       const std::vector<std::string>& pairs, const SetupForm& kept,
                       std::ostream& err) {
    for (size_t i = 0; i < named.size(); ++i) {
        const std::string& asked = pairs[2 * i + 1];
        const std::string shown = ShownValue(kept, *named[i]);
        if (!SameValue(*named[i], asked, shown)) {
            err << named[i]->name << " = " << shown << ": the dialog did not keep \"" << asked
                << "\"\n";
        }
    }
}

int Set(const std::vector<std::string>& pairs, const std::string& config_path,
        const KeyerPortPlace& ports, std::ostream& err) {
    const std::vector<const Setting*> named = NamedSettings(pairs, err);
    if (named.empty()) {
        return 2;
    }
    StationForFile on_file(err, config_path, ports, MachineDisk());
    if (on_file.view.reported() != 0) {
        return 1;
    }
    if (FileUnread(on_file, config_path, "nothing saved", err)) {
        return 1;
    }
    SetupForm form = OpenSetupForm(on_file.station);
    if (!ChangeNamed(named, pairs, &form, err)) {
        return 2;
    }
    // No speed field here to lower.
    const std::vector<SetupRefusal> refusals = FinishSetupForm(&form, on_file.station, 0);
    for (const SetupRefusal& refusal : refusals) {
        err << refusal.caption << ": " << refusal.text << '\n';
    }
    if (!refusals.empty() || on_file.view.reported() != 0) {
        return 1;
    }
    SayWhatWasNotKept(named, pairs, OpenSetupForm(on_file.station), err);
    return 0;
}

}  // namespace

int RunConfigCommand(const std::vector<std::string>& words, const std::string& config_path,
                     const KeyerPortPlace& ports, std::ostream& out, std::ostream& err) {
    if (words.size() == 1 && words[0] == "show") {
        return Show(config_path, ports, out, err);
    }
    if (words.size() >= 3 && words.size() % 2 == 1 && words[0] == "set") {
        return Set(std::vector<std::string>(words.begin() + 1, words.end()), config_path, ports,
                   err);
    }
    err << kUsage;
    return 2;
}
