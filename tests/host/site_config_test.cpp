// `pellmar-site config` against a configuration file written by hand: what show prints, and
// which bytes of the file each set changes, refuses to change, or is not allowed to touch.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "forms/new_link_key.h"
#include "keyer/serial_port.h"
#include "net/link_key.h"
#include "site/config_command.h"
#include "site/key_command.h"
#include "tests/support/temp_folder.h"

namespace {

using Bytes = std::vector<char>;

// A Net Server RemoteSide on com3, opened at start; written out by hand so that the test does
// not lean on the record's own layout.
Bytes KnownImage() {
    Bytes image(1832, 0);
    image[0] = 0x55;
    image[4] = 3;
    image[8] = 1;
    image[12] = 1;
    // Swap, AutoSpace, serial echo, Iambic B; 22 WPM, 800 Hz marked as opened at start, 10 to
    // 35 WPM; PTT, 1.3 Word, the newer keyers' "Port 1, Tone On".
    const char keyer[15] = {0x0E, 22, 0x45, 50, 0, 0, 10, 25, 0, 0, 0, 50, 50, 0x17, 0};
    std::memcpy(&image[16], keyer, sizeof keyer);
    image[32] = 0x4A;  // Net Server, Remote Sidetone, RemoteSide
    std::strcpy(&image[36], "192.168.1.20");
    image[292] = static_cast<char>(0x89);  // port 5001
    image[293] = 0x13;
    return image;
}

constexpr char kKnownShown[] =
    "Open TCP/IP Connection = on\nWeight = 50\nLeadIn = 0\nTail = 0\nFarns = 0\nRatio = 50\n"
    "Comp = 0\n1stExt = 0\nSample = 50\nSwap = on\nAutoSpace = on\nCT Spacing = off\n"
    "Paddle Dog = on\nPaddle Echo = off\nSerial Echo = on\nEnable PTT = on\nLetter Paddle = off\n"
    "Max WPM = 35\nMin WPM = 10\nPot Lock = off\nPaddle Only = off\nFreq = 800 Hz\n"
    "Network I/F = Net Server\nIP Address = 192.168.1.20\nIP Port = 5001\n"
    "IP Addr Override = off\nRemote Sidetone = on\nRole = RemoteSide\nCW Mode = Iambic B\n"
    "Paddle Hang = 1.3 Word\nLocal Tarvel Port = com3\nLocal Tarvel Port Enable = on\n"
    "Output Setup = P3=Key, P5=PTT\n";

struct SetCase {
    std::vector<std::string> words;
    int status;
    std::string said;                                     // empty: nothing may be said
    std::vector<std::pair<size_t, std::string>> changes;  // offset, bytes
};

class SiteConfigTest : public ::testing::Test {
  protected:
    void SetUp() override { std::ofstream(folder.File("com3")) << ""; }

    void WriteImage(const Bytes& image) {
        std::ofstream(path, std::ios::binary).write(image.data(), image.size());
    }
    Bytes ReadImage() {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    TempFolder folder;
    const std::string path = folder.File("pellmar.cfg");
    // The machine's COM port n is the folder's `com<n>`.
    const KeyerPortPlace ports{{}, folder.File("com%d")};
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(SiteConfigTest, ShowPrintsEverySettingAsTheDialogShowsIt) {
    WriteImage(KnownImage());
    EXPECT_EQ(RunConfigCommand({"show"}, path, ports, out, err), 0);
    EXPECT_EQ(out.str(), kKnownShown);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(ReadImage(), KnownImage());
}

TEST_F(SiteConfigTest, ShowWritesNoFileWhereNoneHoldsAConfiguration) {
    for (const bool empty_file : {false, true}) {
        if (empty_file) {
            WriteImage({});
        }
        err.str("");
        EXPECT_EQ(RunConfigCommand({"show"}, path, ports, out, err), 1);
        EXPECT_NE(err.str().find("these are the defaults"), std::string::npos) << err.str();
        EXPECT_EQ(std::filesystem::exists(path), empty_file);
        EXPECT_EQ(ReadImage(), Bytes());
    }
}

TEST_F(SiteConfigTest, SetChangesOnlyWhatTheDialogStoresForTheNamedControls) {
    const SetCase cases[] = {
        {{"set", "weight", "60", "CW Mode", "ultimatic", "Letter Paddle", "yes"},
         0,
         "",
         {{19, "\x3C"}, {16, "\x2E"}, {32, "\x6A"}}},
        // The radio's click takes the role's echoes away; the boxes then say what echoes.
        {{"set", "Network I/F", "Network Off", "Paddle Echo", "on", "Serial Echo", "0", "Max WPM",
          "40"},
         0,
         "",
         {{32, "\x48"}, {16, "\x4A"}, {23, "\x1E"}}},
        // The override's click is what lets a server's address be typed.
        {{"set", "IP Address", "10.0.0.1", "IP Addr Override", "on"},
         0,
         "",
         {{32, "\x5A"}, {36, std::string("10.0.0.1\0\0\0\0", 12)}}},
        {{"set", "Paddle Echo", "on"}, 0, "Paddle Echo = off: the dialog did not keep", {}},
        {{"set", "IP Address", "10.0.0.1"}, 2, "IP Address is greyed out", {}},
        {{"set", "Weight", "5", "Swap", "off"},
         1,
         "Parameter Error: Weight must be between 10 and 90\n",
         {}},
        {{"set", "Swap", "on", "Freq", "900 Hz"}, 2, "800 Hz", {}},
        {{"set", "IP Port", "70000"},
         1,
         "Parameter Error: IP Port must be between 1 and 65535\n",
         {}},
        {{"set", "Colour", "red"}, 2, "Paddle Hang", {}},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.words[1]);
        WriteImage(KnownImage());
        err.str("");
        EXPECT_EQ(RunConfigCommand(c.words, path, ports, out, err), c.status);
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
        EXPECT_EQ(err.str().empty(), c.said.empty()) << err.str();
        Bytes expected = KnownImage();
        for (const auto& [offset, bytes] : c.changes) {
            std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
        }
        EXPECT_EQ(ReadImage(), expected);
    }
}

TEST_F(SiteConfigTest, KeyNewWritesOneKeyPrintsItsLineAndNeverReplacesIt) {
    const std::string ini = folder.File("pellmar.ini");
    std::ofstream(ini, std::ios::binary) << "[Network]\r\nAllowFrom = 10.0.0.0/8\r\n";
    namespace fs = std::filesystem;
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadableKeyWarning(path), "");

    ASSERT_EQ(RunKeyNewCommand(path, out, err), 0) << err.str();
    EXPECT_EQ(err.str(), "");
    const std::string printed = out.str();
    const std::string line = printed.substr(printed.rfind("Key = "));
    ASSERT_EQ(line.size(), 6 + 64 + 1) << printed;
    EXPECT_NE(printed.find(ini), std::string::npos) << printed;
    const std::string written =
        "[Network]\r\nAllowFrom = 10.0.0.0/8\r\n" + line.substr(0, line.size() - 1) + "\r\n";
    std::ifstream in(ini, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), written);
    EXPECT_EQ(ParseLinkKey(line.substr(6, 64)).problem, LinkKeyProblem::kNone);
    EXPECT_EQ(ReadableKeyWarning(path), "");

    fs::permissions(ini, fs::perms::others_read, fs::perm_options::add);
    EXPECT_EQ(ReadableKeyWarning(path),
              "pellmar.ini can be read by other users, and so can its link key: let only its "
              "owner and the site's group read it (chmod 640, its group the site's).");

    out.str("");
    EXPECT_EQ(RunKeyNewCommand(path, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("has a link key already"), std::string::npos) << err.str();
    EXPECT_FALSE(WriteNewLinkKey(folder.File("other.ini"), std::nullopt).written);
    EXPECT_FALSE(fs::exists(folder.File("other.ini")));
    std::ifstream again(ini, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), written);
}

}  // namespace
