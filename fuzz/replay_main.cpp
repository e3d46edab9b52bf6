// Replays fuzz inputs without libFuzzer: every file named on the command line
// or found (recursively) in a folder named there is fed to the target once,
// in name order, after the empty input. A target signals a broken invariant
// by trapping, so a replay that returns has passed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
namespace fs = std::filesystem;

std::vector<fs::path> Inputs(int argc, char** argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path given(argv[i]);
        std::error_code error;
        if (fs::is_directory(given, error)) {
            for (const auto& entry : fs::recursive_directory_iterator(given, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (fs::is_regular_file(given, error)) {
            files.push_back(given);
        } else {
            std::fprintf(stderr, "replay: no corpus at %s (only the empty input is replayed)\n", argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void Replay(const std::string& bytes) {
    // A copy of exactly the input's size, so reading past it is caught by
    // the sanitizers as it would be under libFuzzer.
    static std::uint8_t none = 0;
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
}
}  // namespace

int main(int argc, char** argv) {
    const std::vector<fs::path> files = Inputs(argc, argv);
    Replay(std::string());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "replay: cannot read %s\n", file.string().c_str());
            return 2;
        }
        Replay(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    std::printf("replay: %zu inputs passed\n", files.size() + 1);
    return 0;
}
