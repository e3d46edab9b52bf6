#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace support {

std::string MakeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

void RemoveFolder(const std::string& path) {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path, ignored);
}

TTempFolder::TTempFolder(const std::string& prefix) : path_(MakeTempFolder(prefix)) {
    if (path_.empty()) ADD_FAILURE() << "no temporary folder for " << prefix;
}

TCurrentFolder::TCurrentFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

TCurrentFolder::~TCurrentFolder() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
}

}  // namespace support
