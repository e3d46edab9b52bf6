#pragma once
// A folder of the fuzz target's own under the temporary folder, made on
// first use and removed when the process ends. Never destroyed: the exit
// handler that removes the folder still reads its path.
#include <cstdlib>
#include <filesystem>
#include <string>

inline const std::string& ScratchFolder() {
    static const std::string& folder = *[] {
        std::string pattern = (std::filesystem::temp_directory_path() / "valsetto-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) __builtin_trap();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchFolder(), ignored);
        });
        return new std::string(pattern);
    }();
    return folder;
}
