#pragma once
// A throw-away web site for the music tests: <root>/site/audiojs/ is the
// program folder (the process's executable path is pointed at
// audiojs/playlist.cgi), genre folders go below it and, for the static genre
// pages, beside it in the site folder.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "tests/support/Children.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

class TMusicSite {
public:
    explicit TMusicSite(const std::string& programFolderName = "audiojs") {
        root_ = support::MakeTempFolder("valsetto-music");
        site_ = root_ + "/site";
        program_ = site_ + "/" + programFolderName;
        std::filesystem::create_directories(program_);
        executable_ = program_ + "/playlist.cgi";
        support::SetCommandLine({executable_});
    }
    ~TMusicSite() { support::RemoveFolder(root_); }
    TMusicSite(const TMusicSite&) = delete;
    TMusicSite& operator=(const TMusicSite&) = delete;

    // The program folder in the program's own (Windows) form, with its "\".
    std::string ProgramFolderWindows() const { return Windows(program_) + "\\"; }
    static std::string Windows(std::string path) {
        for (auto& c : path)
            if (c == '/') c = '\\';
        return path;
    }

    // A genre folder with empty song files; withPage also makes the folder
    // beside "audiojs" that receives the genre's static page.
    void AddGenre(const std::string& genre, const std::vector<std::string>& songs, bool withPage = true) const {
        std::filesystem::create_directories(program_ + "/" + genre);
        for (const auto& song : songs) Write(genre + "/" + song, "");
        if (withPage) std::filesystem::create_directories(site_ + "/" + genre);
    }
    void Write(const std::string& relative, const std::string& content) const {
        support::WriteFileBytes(program_ + "/" + relative, content);
    }
    bool Exists(const std::string& relative) const { return std::filesystem::exists(program_ + "/" + relative); }
    std::string Read(const std::string& relative) const { return support::ReadFileBytes(program_ + "/" + relative); }
    std::string ReadSite(const std::string& relative) const { return support::ReadFileBytes(site_ + "/" + relative); }
    bool SiteExists(const std::string& relative) const { return std::filesystem::exists(site_ + "/" + relative); }
    const std::string& ProgramFolderOs() const { return program_; }
    const std::string& SiteFolderOs() const { return site_; }

    // Files of a folder of the site, to see that no temporary file stays.
    std::vector<std::string> Entries(const std::string& osFolder) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(osFolder))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    std::string root_, site_, program_, executable_;
};

// Lines joined with CR LF after each, as the program writes its files.
inline std::string CrLfLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}
