// The music index cache over arbitrary bytes, loaded from a real file with
// every folder's song names read: a damaged, truncated or foreign file is
// refused without a crash or an unbounded allocation, and a file that loads
// encodes to one that loads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/IndexCache.h"

namespace {
void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// The installation every seed was made for.
const std::string ExeFolder = "\\fuzz\\audiojs\\";
const std::string ProgramFolder = "\\fuzz\\audiojs\\";

std::string Folder;

void WriteImage(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out));
}

// Loads path; on success every folder's names are read as well. The encoded
// image of what loaded, or empty.
std::string LoadWhole(const std::string& path) {
    TIndexCache cache;
    if (!cache.Load(path, ExeFolder, ProgramFolder)) return {};
    for (auto& folder : cache.Listings)
        if (!cache.LoadFiles(folder)) return {};
    return cache.Encode();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/valsetto-cache-fuzz-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    Folder = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (Folder.empty()) LLVMFuzzerInitialize(nullptr, nullptr);  // the replay runner calls no initializer
    const std::string path = Folder + "/playlist.cache";
    WriteImage(path, std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string image = LoadWhole(path);
    if (!image.empty()) {
        WriteImage(path, image);
        Check(LoadWhole(path) == image);
    }
    std::filesystem::remove(path);
    return 0;
}
