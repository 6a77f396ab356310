// The headless check: `ketch check PATH...` reads the files named (a folder:
// every .ini file below it) with the checks of All, stores nothing, and
// prints each finding as editors and CI read it, then a summary line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "shell/app/FindingsOutput.h"

namespace ketch {

// The forms of check's standard output.
enum class CheckFormat { Gcc, Text, Json };

// Reads "gcc", "text" or "json"; false for anything else.
bool ParseCheckFormat(const std::string& name, CheckFormat& format);

// The files a check reads: a file as given, a folder as every file below it
// whose name ends in ".ini" (any letter case), in name order. False with a
// message for a path that does not exist; a folder without such a file adds
// a warning and no file.
bool CheckFiles(const std::vector<std::string>& paths, std::vector<std::string>& files,
                std::vector<std::string>& warnings, std::string& error);

// One reported finding in the chosen form, with its line end.
std::string CheckOutput(const Finding& f, CheckFormat format, const FindingPaths& paths);

// The summary line: files (binary among them), lines and the findings
// reported, per code; with its line end.
std::string CheckSummary(const std::vector<Finding>& reported);

// Runs check(from, to) over all of files, in two processes when that pays: a
// child forked after the rule base was loaded checks the later files while
// this process checks the earlier ones, and the child's findings, error
// reports, counts and end are then replayed here in file order, so that what
// is reported, counted and returned is what one process gives. Only for a
// check that writes no log (two processes cannot write one in order) and
// names no file twice (each process reads its own files once). A child that
// fails leaves its files to this process. KETCH_CHECK_JOBS=1 keeps a check to
// one process; 2 splits even a small one.
void CheckInParts(const std::vector<std::string>& files, const std::function<void(size_t from, size_t to)>& check);

}  // namespace ketch
