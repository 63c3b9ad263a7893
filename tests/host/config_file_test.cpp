// The configuration file against a real folder: what is read, what is written, and what
// the operator is told when either fails.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/main_window_view.h"
#include "settings/durable_file.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/settings_file.h"
#include "tests/support/faulty_disk.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr char kUnreadableLine[] =
    "\r\nRead config file failed: running on the defaults; the file is kept as it is.";

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The default image written out by hand, so the test does not lean on the code's own
// defaults table.
Bytes DefaultImage() {
    Bytes image(1832, 0);
    image[0] = 0x55;
    image[4] = 1;
    image[12] = 1;
    const uint8_t keyer[15] = {0, 16, 5, 50, 0, 0, 5, 20, 0, 0, 0, 50, 50, 0, 0};
    std::memcpy(&image[16], keyer, 15);
    image[292] = 81;
    return image;
}

class ConfigFileTest : public ::testing::Test {
  protected:
    TempFolder folder;
    FaultyDisk disk;
    SettingsStore store{folder.File("pellmar.cfg"), disk};
    SettingsRecord& settings = store.record();
    // What the operator is told shows in the recording window, through the Main window's view.
    RecordingWindow window;
    MainWindowView view{window};
};

TEST_F(ConfigFileTest, MissingFileGivesDefaultsAndCreatesTheFile) {
    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(ReadFile(store.config_path()), DefaultImage());
    EXPECT_EQ(settings.keyer_settings.wpm, 16);
    EXPECT_TRUE(window.MessageBoxes().empty());
    EXPECT_FALSE(std::filesystem::exists(store.TempPath())) << "no temporary file left behind";
}

TEST_F(ConfigFileTest, ValidFileIsReadWholeAndNotRewritten) {
    Bytes image = DefaultImage();
    image[4] = 7;                              // COM7
    image[17] = 30;                            // wpm
    image[32] = 0x82;                          // Net Server, ControlPoint
    std::memcpy(&image[36], "k1abc.net", 10);  // ip_address
    std::memcpy(&image[552], "CQ CQ", 6);      // M2
    image[31] = 0x99;                          // padding is kept as the file has it
    WriteFile(store.config_path(), image);
    const auto written_at = std::filesystem::last_write_time(store.config_path());

    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(settings.com_port, 7u);
    EXPECT_EQ(settings.keyer_settings.wpm, 30);
    EXPECT_EQ(settings.net_flags, 0x82u);
    EXPECT_STREQ(settings.ip_address, "k1abc.net");
    EXPECT_STREQ(settings.messages[1], "CQ CQ");
    EXPECT_EQ(settings.padding, 0x99);
    EXPECT_EQ(std::filesystem::last_write_time(store.config_path()), written_at);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(ConfigFileTest, WrongMarkerTakesDefaultsOverTheReadBytes) {
    for (const Bytes& marker :
         {Bytes{0x55, 0x01, 0x00, 0x00}, Bytes{0x54, 0, 0, 0}, Bytes{0x55, 0, 0, 0x80}}) {
        Bytes image(1832, 0);
        std::copy(marker.begin(), marker.end(), image.begin());
        image[4] = 9;
        image[31] = 0x77;  // padding: not set by the defaults
        std::memcpy(&image[296], "HELLO", 6);
        WriteFile(store.config_path(), image);

        EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
        EXPECT_EQ(settings.magic, 0x55u);
        EXPECT_EQ(settings.com_port, 1u);
        EXPECT_EQ(settings.messages[0][0], '\0');
        EXPECT_EQ(settings.messages[0][1], 'E') << "characters after the first are kept";
        EXPECT_EQ(settings.padding, 0x77);

        Bytes stored = ReadFile(store.config_path());
        ASSERT_EQ(stored.size(), 1832u);
        EXPECT_EQ(stored[0], 0x55);
        EXPECT_EQ(stored[1], 0x00);
        EXPECT_EQ(stored[4], 1);
        EXPECT_EQ(stored[31], 0x77);
    }
    EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(ConfigFileTest, ShortFileFillsOnlyTheFrontOfTheRecord) {
    Bytes image = DefaultImage();
    image[4] = 3;
    image.resize(100);
    WriteFile(store.config_path(), image);

    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(settings.com_port, 3u);
    EXPECT_EQ(settings.keyer_settings.wpm, 16);
    EXPECT_EQ(settings.ip_port, 0u) << "beyond the file's end the record keeps its zeros";
    EXPECT_EQ(settings.messages[5][0], '\0');
    EXPECT_EQ(ReadFile(store.config_path()).size(), 100u) << "an accepted file is not rewritten";
    EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(ConfigFileTest, FolderInPlaceOfTheFileIsReportedAndLeftAlone) {
    // Windows refuses to open a folder as a file, POSIX opens it and the read fails: either
    // way the thing is there and cannot be read, so nothing is written over it.
    std::filesystem::create_directory(store.config_path());
    settings.com_port = 9;
    EXPECT_EQ(ReadSettingsFile(store, view, view), 0);
    EXPECT_TRUE(window.MessageBoxes().empty()) << "an unattended site waits for no click";
    EXPECT_EQ(window.Text(IDC_LOG_PANE), kUnreadableLine);
    EXPECT_EQ(settings.com_port, 1u) << "the run goes on with the defaults";
    EXPECT_TRUE(std::filesystem::is_directory(store.config_path()));
    EXPECT_FALSE(std::filesystem::exists(store.TempPath()));
}

TEST_F(ConfigFileTest, UncreatableFileIsAFailureNotASilentSuccess) {
    // A folder that cannot exist: its parent is a plain file. Root ignores permission
    // bits, so this is the unwritable folder that holds for every user.
    WriteFile(folder.File("plain"), Bytes{1});
    SettingsStore store(folder.File("plain") + "/pellmar.cfg");
    SettingsRecord& settings = store.record();

    EXPECT_EQ(ReadSettingsFile(store, view, view), 1) << "missing file: defaults are still taken";
    EXPECT_EQ(settings.magic, 0x55u);
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Save State Failed.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].owner, kNoOwner);

    EXPECT_EQ(SaveSettingsFile(store, view), 0);
    EXPECT_EQ(window.MessageBoxes().size(), 2u);
}

TEST_F(ConfigFileTest, FailedSaveLeavesTheOldFileIntact) {
    store.SetDefaults();
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    const Bytes before = ReadFile(store.config_path());

    // Something in the way of the temporary file makes the save fail before the replace.
    std::filesystem::create_directory(store.TempPath());
    settings.com_port = 12;
    EXPECT_EQ(SaveSettingsFile(store, view), 0);
    EXPECT_EQ(ReadFile(store.config_path()), before);
    ASSERT_EQ(window.MessageBoxes().size(), 1u);
    EXPECT_EQ(window.MessageBoxes()[0].text, "Save State Failed.");
}

TEST_F(ConfigFileTest, SaveInterruptedAfterTheTemporaryFileKeepsTheOldFile) {
    store.SetDefaults();
    settings.com_port = 4;
    ASSERT_EQ(SaveSettingsFile(store, view), 1);

    // The program dies after the new image is complete beside the old file but before the
    // replace: a later start still finds the old configuration whole.
    settings.com_port = 11;
    std::strcpy(settings.messages[0], "NEW TEXT");
    const auto* record = reinterpret_cast<const uint8_t*>(&settings);
    WriteFile(store.TempPath(), Bytes(record, record + sizeof settings));
    ASSERT_EQ(ReadFile(store.TempPath()).size(), 1832u);

    std::memset(&settings, 0, sizeof settings);
    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(settings.com_port, 4u);
    EXPECT_STREQ(settings.messages[0], "");

    // The next save goes through and takes the stale temporary file with it.
    settings.com_port = 5;
    EXPECT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path())[4], 5);
    EXPECT_FALSE(std::filesystem::exists(store.TempPath()));
}

TEST_F(ConfigFileTest, TextFieldsWithoutTerminatorAreCutAt255Characters) {
    Bytes image = DefaultImage();
    std::fill(image.begin() + 36, image.begin() + 292, 'A');
    for (int m = 0; m < 6; ++m) {
        std::fill(image.begin() + 296 + 256 * m, image.begin() + 296 + 256 * (m + 1), 'a' + m);
    }
    WriteFile(store.config_path(), image);

    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(std::strlen(settings.ip_address), 255u);
    EXPECT_EQ(settings.ip_port, 81u) << "the field after the address is untouched";
    for (int m = 0; m < 6; ++m) {
        EXPECT_EQ(std::strlen(settings.messages[m]), 255u) << "message " << m + 1;
        EXPECT_EQ(settings.messages[m][254], 'a' + m);
    }
}

TEST_F(ConfigFileTest, StartupMarkerIsInTheStoredSidetoneOnly) {
    store.SetDefaults();
    settings.open_at_startup = 1;
    settings.keyer_settings.sidetone = 5;
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path())[18], 0x45);
    EXPECT_EQ(settings.keyer_settings.sidetone, 5);

    // Loaded with the marker and saved without start-up: the first save still stores it,
    // the one after that does not.
    std::memset(&settings, 0, sizeof settings);
    ASSERT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(settings.keyer_settings.sidetone, 0x45);
    settings.open_at_startup = 0;
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path())[18], 0x45);
    EXPECT_EQ(settings.keyer_settings.sidetone, 5);
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path())[18], 0x05);
}

TEST_F(ConfigFileTest, EveryByteSurvivesASaveAndALoad) {
    uint8_t* raw = reinterpret_cast<uint8_t*>(&settings);
    for (std::size_t i = 0; i < sizeof settings; ++i) {
        raw[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    settings.magic = 0x55;
    settings.open_at_startup = 0;
    settings.keyer_settings.sidetone = 0x05;
    settings.ip_address[255] = '\0';
    for (auto& message : settings.messages) {
        message[255] = '\0';
    }
    SettingsRecord saved = settings;
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path()), Bytes(raw, raw + sizeof settings));

    std::memset(&settings, 0, sizeof settings);
    ASSERT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(std::memcmp(&settings, &saved, sizeof settings), 0);
}

// A file held open by another program with no sharing, or one this user may not read.
class HeldConfigFileTest : public ConfigFileTest {
  protected:
    void SetUp() override {
        ConfigFileTest::SetUp();
        stored = DefaultImage();
        stored[4] = 7;
        std::memcpy(&stored[296], "CQ DE K1ABC", 12);
        WriteFile(store.config_path(), stored);
    }

    void ExpectReadFailedWithDefaults() {
        EXPECT_EQ(ReadSettingsFile(store, view, view), 0);
        EXPECT_TRUE(window.MessageBoxes().empty());
        EXPECT_EQ(window.Text(IDC_LOG_PANE), kUnreadableLine);
        EXPECT_EQ(settings.com_port, 1u);
        EXPECT_EQ(settings.keyer_settings.wpm, 16);
        EXPECT_STREQ(settings.messages[0], "");
    }

    Bytes stored;
};

TEST_F(HeldConfigFileTest, IsNeverOverwrittenUntilTheOperatorSaves) {
    FileFaults held;
    held.refuse_open = true;
    disk.faults = held;
    ExpectReadFailedWithDefaults();
    EXPECT_EQ(ReadFile(store.config_path()), stored);

    // The other program lets go; closing the keyer saves unasked, and so writes nothing.
    disk.faults = FileFaults{};
    EXPECT_EQ(SaveSettingsFileAtClose(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path()), stored);
    EXPECT_TRUE(window.MessageBoxes().empty());

    // The operator's own save asks first: No keeps the file, and the change for this run;
    // Yes writes what this run holds, and from then on so does a close.
    settings.com_port = 5;
    EXPECT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path()), stored);
    EXPECT_EQ(settings.com_port, 5u);
    window.answer_yes = true;
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path())[4], 5);
    EXPECT_EQ(window.MessageBoxes().size(), 2u);
    settings.com_port = 6;
    ASSERT_EQ(SaveSettingsFileAtClose(store, view), 1);
    EXPECT_EQ(ReadFile(store.config_path())[4], 6);
}

TEST_F(HeldConfigFileTest, AFileHeldForAMomentIsReadOnceLetGo) {
    disk.faults.reads_refused = 3;
    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(settings.com_port, 7u);
    EXPECT_EQ(window.Text(IDC_LOG_PANE), "");
}

TEST_F(HeldConfigFileTest, AMissingFileIsStillCreatedWhateverHoldsOthers) {
    FileFaults held;
    held.refuse_open = true;
    disk.faults = held;
    std::filesystem::remove(store.config_path());
    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(ReadFile(store.config_path()), DefaultImage());
    EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(HeldConfigFileTest, NoPermissionToReadIsTheSameAsHeld) {
    namespace fs = std::filesystem;
    fs::permissions(store.config_path(), fs::perms::none);
    if (std::ifstream(store.config_path(), std::ios::binary).is_open()) {
        fs::permissions(store.config_path(), fs::perms::owner_all);
        GTEST_SKIP() << "this user reads the file whatever its permissions (root, or a file "
                        "system without them); IsNeverOverwrittenUntilTheOperatorSaves covers "
                        "the same behaviour through the file seam";
    }
    ExpectReadFailedWithDefaults();
    fs::permissions(store.config_path(), fs::perms::owner_all);
    EXPECT_EQ(ReadFile(store.config_path()), stored);
}

TEST_F(ConfigFileTest, OversizedFileGivesItsFirstRecordAndIsKept) {
    Bytes image = DefaultImage();
    image[4] = 8;
    std::memcpy(&image[1576], "M6 TEXT", 8);
    image.resize(4000, 0xEE);
    WriteFile(store.config_path(), image);

    EXPECT_EQ(ReadSettingsFile(store, view, view), 1);
    EXPECT_EQ(settings.com_port, 8u);
    EXPECT_STREQ(settings.messages[5], "M6 TEXT");
    EXPECT_EQ(ReadFile(store.config_path()), image);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// A disk that fills at any point of the save, or a folder that refuses new files: the
// operator is told, and the stored file stays as it was, byte for byte.
TEST_F(ConfigFileTest, DiskFullOrReadOnlyFolderAtSaveKeepsTheOldFileByteIdentical) {
    store.SetDefaults();
    std::strcpy(settings.messages[0], "OLD TEXT");
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    const Bytes before = ReadFile(store.config_path());

    std::vector<FileFaults> faults;
    for (std::size_t space : {0, 1, 900, 1831}) {
        FileFaults full;
        full.disk_space = space;
        faults.push_back(full);
    }
    FileFaults read_only;
    read_only.refuse_create = true;
    faults.push_back(read_only);

    settings.open_at_startup = 1;  // the stored image then differs from the record
    for (std::size_t i = 0; i < faults.size(); ++i) {
        SCOPED_TRACE(i);
        disk.faults = faults[i];
        std::strcpy(settings.messages[0], "NEW TEXT");
        const SettingsRecord held = settings;
        EXPECT_EQ(SaveSettingsFile(store, view), 0);
        EXPECT_EQ(std::memcmp(&settings, &held, sizeof held), 0) << "the record as it was";
        EXPECT_EQ(ReadFile(store.config_path()), before);
        EXPECT_FALSE(std::filesystem::exists(store.TempPath()));
        const auto boxes = window.MessageBoxes();
        ASSERT_EQ(boxes.size(), i + 1);
        EXPECT_EQ(boxes[i].text, "Save State Failed.");
        EXPECT_EQ(boxes[i].caption, "Error");
        EXPECT_EQ(boxes[i].owner, kNoOwner);
    }
    disk.faults = FileFaults{};
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(&ReadFile(store.config_path())[296]), "NEW TEXT");
}

TEST_F(ConfigFileTest, ReallyReadOnlyFolderKeepsTheOldFile) {
    namespace fs = std::filesystem;
    store.SetDefaults();
    ASSERT_EQ(SaveSettingsFile(store, view), 1);
    const Bytes before = ReadFile(store.config_path());
    fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool refused = !std::ofstream(folder.File("probe")).is_open();
    if (refused) {
        settings.com_port = 3;
        EXPECT_EQ(SaveSettingsFile(store, view), 0);
        EXPECT_EQ(window.MessageBoxes().size(), 1u);
    }
    fs::permissions(folder.path(), fs::perms::owner_all);
    if (!refused) {
        GTEST_SKIP() << "this user writes into any folder (root, or a file system without "
                        "permissions); DiskFullOrReadOnlyFolderAtSaveKeepsTheOldFileByteIdentical "
                        "covers the same behaviour through the file seam";
    }
    EXPECT_EQ(ReadFile(store.config_path()), before);
}

}  // namespace
