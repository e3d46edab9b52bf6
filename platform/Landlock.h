#pragma once
// Confinement of the process with Landlock (Linux 5.13 and later), through
// the system calls themselves: once a process knows the folders it works
// in, it gives up every other file-system right. On a kernel without
// Landlock nothing changes. Uses only the standard library and system
// calls, so the FastCGI host builds it too.
#include <string>
#include <vector>

// Paths in the operating system's form ("/"). A path that does not exist is
// left out; a tree covers everything below it.
struct TConfinement {
    std::vector<std::string> ReadTrees;       // read files, list folders
    std::vector<std::string> WriteTrees;      // also write, create, remove, rename
    std::vector<std::string> ReadFiles;       // read one file
    std::vector<std::string> ReadWriteFiles;  // read and write one file (a device)
    std::vector<std::string> ExecuteFiles;    // run (and read) one file
    std::vector<std::string> RemoveIn;        // remove files directly in a folder
};

enum class TConfineResult { Confined, Unsupported, Failed };

// Restricts the calling thread, and every thread and process it starts
// later, to the rules (threads started before keep their rights). Sets
// no_new_privs first. Unsupported: the kernel has no Landlock, or it is
// turned off; nothing changed. Failed: a rule could not be made; nothing
// changed either.
[[nodiscard]] TConfineResult ConfineProcess(const TConfinement& rules);

// The rules of a program that keeps its files in programFolder: read and
// write there (its temp/ and log/ included) and in logFolder when given; read
// the time zone data; write the folders beside programFolder that have the
// name of one of its subfolders (the genre pages). executable, when given,
// may be run (a resident server's launch) and /dev/null opened for it.
TConfinement ProgramFolderConfinement(const std::string& programFolder, const std::string& logFolder,
                                      const std::string& executable);
