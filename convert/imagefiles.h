// Which files of a folder are images, and their order in a listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Type code from a name's ending: a dot and any extension of any format,
// compared case-insensitively ("a.JPEG" is a JPEG, the program "cjpeg" is
// none); 0 for anything else (not listed as an image).
std::uint32_t GetImageType(const std::string &name);

// Orders names by their bytes in the GB18030 encoding, so Chinese names sort
// by their reading as users of that encoding expect; ASCII keeps byte order.
bool ImageNameLess(const std::string &a, const std::string &b);

// The image files (regular files only) directly in folder, names only, in
// listing order. The root folder "/" stays "/" when trailing separators are
// removed.
std::vector<std::string> ListImageFiles(const std::string &folder);

// An image file found below a folder, and the folder it is in relative to
// that one ("" for the folder itself, else "a/b").
struct TreeFile {
    std::string path;
    std::string subfolder;
};

// The image files of folder and of every folder below it, at any depth: a
// folder's own files in listing order, then its subfolders in that order.
// Hidden folders (".name") are not entered, a folder reached again through
// a link is walked only once, and the folder `skip` (a destination inside
// the tree) is never walked.
std::vector<TreeFile> ListImageTree(const std::string &folder, const std::string &skip = {});

// The folder with its trailing "/" characters removed, except that the root
// stays "/".
std::string TrimFolder(const std::string &folder);

// The folder the process runs in as the shell shows it: $PWD when it names
// this folder without "." or ".." parts (so links on the way stay as typed),
// else the resolved path.
std::string CurrentFolder();

// path made absolute by joining it to folder, lexically: symbolic links are
// not followed and ".." is kept, as it may go back through a link. Absolute
// and empty paths are returned as they are; "." parts are dropped.
std::string AbsolutePath(const std::string &path, const std::string &folder);
