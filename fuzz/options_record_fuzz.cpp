// The options record over arbitrary bytes of any length, decoded in memory
// and loaded from a real file: bytes the data holds replace the record's, the
// rest keep their previous value, every string stays within its slot, and a
// record once decoded encodes and decodes to itself. A file holding the same
// bytes loads the same record, and a saved record is 1160 bytes that load
// back unchanged (checked for inputs whose size is a multiple of 8).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/Options.h"
#include "platform/Process.h"

namespace {
void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// Offset and maximum of every length byte.
struct TLengthByte {
    std::size_t Offset;
    std::size_t Max;
};
constexpr TLengthByte LengthBytes[] = {{0, 255}, {256, 120}, {377, 255}, {634, 25},
                                       {660, 255}, {916, 120}, {1037, 120}};

// The maximum of the length byte at offset; false for any other byte.
bool LengthByteAt(std::size_t offset, std::size_t& max) {
    for (const auto& field : LengthBytes)
        if (field.Offset == offset) {
            max = field.Max;
            return true;
        }
    return false;
}

// A record whose every byte differs from zero, so a byte the data did not
// reach is seen to keep its previous value.
TOptionsRecord Previous() {
    std::string bytes(OptionsRecordSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0x41 + i % 23);
    for (const auto& field : LengthBytes) bytes[field.Offset] = static_cast<char>(field.Max / 2);
    TOptionsRecord record;
    DecodeOptions(bytes, record);
    return record;
}

void CheckLengths(const TOptionsRecord& r) {
    Check(r.host.Value().size() <= 255 && r.userid.Value().size() <= 120 && r.fromaddress.Value().size() <= 255);
    Check(r.password.Value().size() <= 25 && r.errormail.Value().size() <= 255);
    Check(r.ignoreip.Value().size() <= 120 && r.notifyip.Value().size() <= 120);
    for (const auto& field : LengthBytes)
        Check(static_cast<unsigned char>(EncodeOptions(r)[field.Offset]) <= field.Max);
}

// The pretend executable's folder: the options file LoadOptions reads lies
// there, never beside the fuzzer.
std::string Folder;

void WriteImage(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out));
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/valsetto-options-fuzz-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    Folder = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    });
    std::string program = Folder + "/player.fuzz.exe";
    char* argv[] = {program.data(), nullptr};
    InitProcess(1, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (Folder.empty()) LLVMFuzzerInitialize(nullptr, nullptr);  // the replay runner calls no initializer
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TOptionsRecord previous = Previous();
    const std::string before = EncodeOptions(previous);

    TOptionsRecord decoded = previous;
    DecodeOptions(bytes, decoded);
    const std::string image = EncodeOptions(decoded);
    Check(image.size() == OptionsRecordSize);
    CheckLengths(decoded);
    for (std::size_t i = 0; i < OptionsRecordSize; ++i) {
        if (i >= size) {
            Check(image[i] == before[i]);
            continue;
        }
        std::size_t max = 0;
        const auto given = static_cast<unsigned char>(bytes[i]);
        if (LengthByteAt(i, max)) Check(static_cast<unsigned char>(image[i]) == (given < max ? given : max));
        else Check(image[i] == bytes[i]);
    }

    TOptionsRecord again;
    DecodeOptions(image, again);
    Check(EncodeOptions(again) == image);

    // The same bytes as a file beside the pretend executable.
    const std::string path = Folder + "/player.opt";
    WriteImage(path, bytes);
    Options = previous;
    LoadOptions();
    Check(EncodeOptions(Options) == image);

    // A save syncs the disk: one input in 8 is enough to cover it.
    if (size % 8 != 0) {
        std::remove(path.c_str());
        return 0;
    }
    SaveOptions();
    std::ifstream saved(path, std::ios::binary | std::ios::ate);
    Check(static_cast<std::size_t>(saved.tellg()) == OptionsRecordSize);
    Options = TOptionsRecord{};
    LoadOptions();
    Check(EncodeOptions(Options) == image);
    std::remove(path.c_str());
    return 0;
}
