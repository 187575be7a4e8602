// Small file helpers shared by the application log and the launch agent.
// Plain standard C++: the files live under the home directory the platform
// gives, so tests exercise them for real under a temporary home.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qm::files {

// Paths are UTF-8 throughout the core. This is the path the file functions
// take for one: Windows would read a narrow string in its ANSI code page.
std::filesystem::path nativePath(const std::string& utf8);

// True when something exists at the path (a link counts when its target does).
bool exists(const std::string& path);

// Writes to a temporary file beside the target and renames it over the
// target, so a reader never sees half a file. False on any failure; the
// folder is never created.
bool writeAtomically(const std::string& path, std::string_view contents);

// Opens an existing file for writing, moves to its end and writes. False
// when the file cannot be opened or the write fails.
bool appendToExisting(const std::string& path, std::string_view contents);

// The whole file, or nothing when it is missing or unreadable.
std::optional<std::string> read(const std::string& path);

}  // namespace qm::files
