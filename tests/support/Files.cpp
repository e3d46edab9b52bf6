#include "tests/support/Files.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace support {

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string ReadFolderBytes(const std::string& folder) {
    std::string all;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
        all += ReadFileBytes(entry.path().string());
    return all;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

void RedirectOrExit(const std::string& path, int flags, int target) {
    const int fd = open(path.c_str(), flags, 0600);
    if (fd < 0 || dup2(fd, target) < 0) _exit(90);
    close(fd);
}

std::vector<std::string> GoldenLines(const std::string& relativePath) {
    std::istringstream text(ReadFileBytes(std::string(VALSETTO_TESTS_DIR) + "/" + relativePath));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

}  // namespace support
