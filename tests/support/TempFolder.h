#pragma once
// Throw-away folders for tests: a fresh folder under the system's temporary
// folder, removed with its content when the object goes (write permission
// given back first, for tests that take it away); paths are OS form.
#include <filesystem>
#include <string>

namespace support {

// Makes a fresh folder named prefix-XXXXXX; empty when it cannot.
std::string MakeTempFolder(const std::string& prefix);
// Removes a folder with its content; quietly, whatever is left.
void RemoveFolder(const std::string& path);

class TTempFolder {
public:
    explicit TTempFolder(const std::string& prefix = "valsetto-test");
    ~TTempFolder() { RemoveFolder(path_); }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs the test body in another current folder and returns to the old one.
class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::string& folder);
    ~TCurrentFolder();
    TCurrentFolder(const TCurrentFolder&) = delete;
    TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
    std::filesystem::path old_;
};

}  // namespace support
