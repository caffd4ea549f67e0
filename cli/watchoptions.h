// What --watch and the options going with it say, and the file of a watch
// (--watch-config) the user unit names.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct WatchSettings {
    std::string folder; // absolute; empty: no watch
    bool newOnly = false;
    bool recursive = false;
    double settle = 2.0; // seconds
    enum class Then { Keep, Trash, Move } then = Then::Keep;
    std::string moveFolder; // absolute, with Then::Move
    bool Active() const { return !folder.empty(); }
};

// "0.5", "2", "3600": digits with at most one point, 0 to 3600.
std::optional<double> ParseSettle(const std::string &text);
// keep, trash or move:DIR (DIR not yet made absolute); false for anything else.
bool ParseThen(const std::string &text, WatchSettings::Then &then, std::string &folder);

// The options a watch file stands for, in the order of its lines, with a
// leading "~/" of a value made the home folder. False with error set (the
// file and line named) when it cannot be read, is over 64 KB, or holds a
// line that is no KEY=VALUE of a known key, or no FOLDER.
bool ReadWatchConfig(const std::string &path, std::vector<std::string> &args, std::string &error);
