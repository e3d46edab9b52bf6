#pragma once
// Whole files for tests, read and written without the product's own file
// routines, so a fault in those cannot hide itself.
#include <string>
#include <vector>

namespace support {

// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// The bytes of every file below folder, one file after another; empty when
// there is no such folder.
std::string ReadFolderBytes(const std::string& folder);
// Writes the bytes over the file; false when it cannot.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// In a forked child: opens path (created with mode 0600 where flags say so)
// as descriptor target; the child ends with exit code 90 when it cannot.
void RedirectOrExit(const std::string& path, int flags, int target);
// The lines of a file below tests/ (a golden file), without their line ends.
std::vector<std::string> GoldenLines(const std::string& relativePath);

}  // namespace support
