#pragma once
// A fresh folder under the system's temporary folder, removed with its
// content when the test ends; paths are OS form.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TTestFolder {
public:
    TTestFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "valsetto-plat-XXXXXX").string();
        if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TTestFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TTestFolder(const TTestFolder&) = delete;
    TTestFolder& operator=(const TTestFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs the test body in another current folder and returns to the old one.
class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~TCurrentFolder() {
        std::error_code ignored;
        std::filesystem::current_path(old_, ignored);
    }
    TCurrentFolder(const TCurrentFolder&) = delete;
    TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
    std::filesystem::path old_;
};
