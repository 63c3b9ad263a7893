// The configuration file, as a disk, another program or a person may leave it: any bytes,
// of any length, read into the Settings record, saved, and read again, in a private folder.
//
// What must hold: a file with the marker is taken as it stands, byte for byte (a short
// one fills the front of the record; each text is cut at its field's last byte), and is
// not rewritten; a file without it gives the defaults, written back as a whole image; a
// save always writes the whole 1832-byte record; and reading that file again gives the
// record that was saved, the start-up marker in `sidetone` being the one difference a save
// makes by design.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "tests/fuzz/fuzz_station.h"
#include "tests/support/temp_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

const TempFolder& Folder() {
    static const TempFolder folder;
    return folder;
}

// The file as it now stands; a file larger than any input would be a fault of its own.
Bytes ReadBack(const std::string& path) {
    constexpr std::size_t kLargest = 1 << 16;
    Bytes bytes(kLargest);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    FuzzCheck(file != nullptr, "the configuration file is there");
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    FuzzCheck(bytes.size() < kLargest, "the configuration file is no larger than its input");
    return bytes;
}

void Write(const std::string& path, const uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FuzzCheck(file != nullptr, "the private folder takes a file");
    FuzzCheck(std::fwrite(data, 1, size, file) == size, "the input is written whole");
    std::fclose(file);
}

Bytes Record(const SettingsStore& store) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&store.record());
    return Bytes(bytes, bytes + sizeof(SettingsRecord));
}

// Where the texts lie in the record: the address, then the six messages.
std::vector<std::size_t> TextFields() {
    std::vector<std::size_t> fields{offsetof(SettingsRecord, ip_address)};
    for (int i = 0; i < kMessageCount; ++i) {
        fields.push_back(offsetof(SettingsRecord, messages) + i * kTextFieldSize);
    }
    return fields;
}

// The record a file with the marker gives: its bytes, and every text ending within its
// field.
Bytes TakenAsItStands(const uint8_t* data, std::size_t size) {
    Bytes record(sizeof(SettingsRecord), 0);
    if (size >= record.size()) {
        std::memcpy(record.data(), data, record.size());  // what lies beyond is not read
    } else {
        std::memcpy(record.data(), data, size);  // the rest of the record keeps its zeros
    }
    for (std::size_t field : TextFields()) {
        record[field + kTextFieldSize - 1] = 0;
    }
    return record;
}

// A text that fills its field in the file, without a terminator, is cut at 255 characters.
void CheckTextsCut(const Bytes& loaded, const uint8_t* data, std::size_t size) {
    for (std::size_t field : TextFields()) {
        if (field + kTextFieldSize <= size &&
            std::memchr(data + field, 0, kTextFieldSize) == nullptr) {
            FuzzCheck(std::memchr(loaded.data() + field, 0, kTextFieldSize) ==
                          loaded.data() + field + kTextFieldSize - 1,
                      "a text that fills its field is cut at its last byte");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    SettingsStore store(Folder().File("pellmar.cfg"));
    const std::string& path = store.config_path();
    std::remove(store.TempPath().c_str());
    Write(path, data, size);

    // Read and nothing to tell the operator.
    FuzzCheck(store.Read() == ConfigRead::kRead, "a readable file is read");
    const Bytes loaded = Record(store);
    uint32_t magic = 0;
    std::memcpy(&magic, data, size < sizeof magic ? size : sizeof magic);
    if (magic == kSettingsMagic) {
        FuzzCheck(loaded == TakenAsItStands(data, size), "a marked file is taken as it stands");
        CheckTextsCut(loaded, data, size);
        FuzzCheck(ReadBack(path) == Bytes(data, data + size), "a marked file is not rewritten");
    } else {
        FuzzCheck(store.record().magic == kSettingsMagic, "an unmarked file gives the defaults");
        const Bytes written = ReadBack(path);
        FuzzCheck(written.size() == sizeof(SettingsRecord) &&
                      TakenAsItStands(written.data(), written.size()) == loaded,
                  "the defaults are written back whole");
    }

    const bool marks_startup = store.record().open_at_startup != 0;
    FuzzCheck(store.Save() == 1, "the save succeeds");
    Bytes stored = loaded;
    if (marks_startup) {
        stored[offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, sidetone)] |=
            kSidetoneStartupMarker;
    }
    FuzzCheck(ReadBack(path) == stored, "a save writes the whole record");

    SettingsStore again(path);
    FuzzCheck(again.Read() == ConfigRead::kRead, "the saved file is read");
    FuzzCheck(Record(again) == stored, "the saved file reads back as the record that was saved");
    return 0;
}
