// The running program: its folder, its file name and its version. Stands in for
// the platform's program information.
#pragma once

#include <string>

namespace ketch::App {

constexpr int Major = 0;
constexpr int Minor = 9;
constexpr int Revision = 7;

// "0.9.7": major.minor.revision without leading zeros.
std::string VersionText();

// The folder that holds the running program, without a trailing slash.
const std::string& Path();

// The running program's file name without extension ("ketch").
const std::string& EXEName();

// Tests and tools point the program folder elsewhere; an empty text restores
// the real one.
void SetPath(const std::string& folder);

}  // namespace ketch::App
