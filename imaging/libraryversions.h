// The program's version and those of the libraries it reads and writes
// pictures with, for --version and bug reports.
#pragma once

#include <string>
#include <vector>

struct LibraryVersion {
    const char *name;
    std::string version;
};

// "1.00", the version of the window title.
const char *VelmoraVersion();

// What the program runs with: the loaded library's own answer where it gives
// one, the version built against where it cannot (libjpeg-turbo, giflib,
// libdeflate).
std::vector<LibraryVersion> LibraryVersions();

// The --version text: "PROGRAM 1.00", then a line per library.
std::string VersionText(const char *program);
