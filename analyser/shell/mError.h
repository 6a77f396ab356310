// Everything the analyser has to say goes through here: the error table, the
// log (ketch.log and the window's log box), error reports, warning records,
// the fatal error box and the system's error texts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Error.h"

namespace ketch {

struct SectionRecord;
struct LocationRecord;
struct Finding;

// Exit statuses of the program.
enum ExitStatus {
  exitNormal = 0,
  exitUsage = 1,
  exitFatal = 2,       // start-up or settings failure
  exitEnded = 3,       // the program ended itself after an error report
  exitAllRefused = 4,  // all refused because init failed earlier in the run
  exitFindings = 5,    // normal end with a finding that --fail-on names
  exitErrorReport = 6, // normal end, but an error report was written
  exitLearnNoGame = 7,  // learn found no game to learn from; the rule base is unchanged
  exitLearnNotWritten = 8,  // learn could not write the rule base; it is unchanged
  exitLearnCancelled = 9,   // learn stopped by the window's Cancel; the rule base is unchanged
};

// Error codes of the program's own error table.
enum ErrorCode : int16_t {
  errValueTypeMismatch = 10101,
  errValueNotInitialized = 10102,
  errValueAlreadyInitialized = 10103,
  errValueOverflow = 10104,
  errEntryAlreadyInitialized = 10201,
  errEntryNotInitialized = 10202,
  errEntryNameMismatch = 10203,
  errValuePositionMismatch = 10204,
  errTooManyValues = 10205,
  errMultiValueInFixedPosition = 10206,
  errFixedValueInMultiPosition = 10207,
  errValueTypesNotSet = 10208,
  errEntryNotMultiline = 10209,
  errMultiValueMustBeLast = 10210,
  errEntryNoMultiValue = 10211,
  errTooFewValues = 10212,
  errSectionNoClosingBracket = 10301,
  errUnknownEntry = 10302,
  errSectionUnknownError = 10303,
  errEntryWithNoValue = 10304,
  errUnknownSection = 10305,
  errCouldNotOpenReferredFile = 10306,
  errLineTooLong = 10307,
};

// The codes of the error table, in the table's order.
inline constexpr std::array<int16_t, 23> kErrorCodes = {
    10101, 10102, 10103, 10104, 10201, 10202, 10203, 10204, 10205, 10206, 10207, 10208,
    10209, 10210, 10211, 10212, 10301, 10302, 10303, 10304, 10305, 10306, 10307};

// The table's text of a code ("Entry Name Mismatch"), null for any other code.
const char* TableText(int16_t code);

// True for an error that is a finding about the game's data rather than a
// fault of the program: a number of the program's own range, above 10000
// (the codes of the table and the gaps between them).
bool IsFinding(int32_t number);

// "10203 - Entry Name Mismatch" for a code of the table, "Unknown Error" for
// any other code.
std::string ErrorText(int16_t code);

// The program's own error for a code of the table: number = code, description
// = ErrorText(code), source = program name + classSuffix (".Value", ".Entry").
Error OwnError(int16_t code, const std::string& classSuffix);

// Appends the message and CR LF to the log folder's ketch.log and shows it in
// the log box. Never fails towards its caller: a
// failure puts four notice lines into the box instead.
void LogLine(const std::string& message);

// The log folder (the LogPath setting, which the settings object hands over
// whenever it changes); "" stands for the default folder of Locations (the
// program folder or the user's), never the root of the file system.
void SetLogFolder(const std::string& folder);
const std::string& LogFolder();
// The file LogLine writes: the log folder, or the default one, + "\ketch.log".
std::string LogFilePath();

// Off: LogLine writes no ketch.log (the box still gets every message). On by
// default.
void SetLogFileOn(bool on);
bool LogFileOn();

// Logs "Error : ", "Number: ", "Source: " of the error and the context text.
void LogError(const Error& error, const std::string& context);

// Logs the three-line warning record for entry line `index` (1..2048) of the
// section record.
void LogWarning(const SectionRecord& section, int16_t code, int16_t index);

// Logs the three-line warning record for the place a file was named. The
// finding it emits is about namedFile, when given, rather than that place.
void LogLocationWarning(const LocationRecord& location, int16_t code, const std::string& namedFile = {});

// Where LogWarning and LogLocationWarning hand one Finding each, beside the
// log (which does not change); null, the default, hands none.
void SetFindingSink(std::function<void(const Finding&)> sink);
const std::function<void(const Finding&)>& CurrentFindingSink();

// The log's three-line warning record of a finding, each line ended by CR LF.
std::string WarningRecord(const Finding& finding);

// Shows the error with the context in the fatal box (or on standard error when
// headless) and ends the program with exitFatal. Does not return.
[[noreturn]] void FatalError(const Error& error, const std::string& context);

// The system's message text for an errno value, empty when it has none.
std::string ApiErrorText(int32_t code);

// The log box as the engine sees it. The window sets these hooks; headless
// mode writes the box's text to standard output instead.
struct LogView {
  // Appends text (already in the box's form, CR LF line ends) at the end.
  std::function<void(const std::string& text)> Append;
  // Number of characters the box holds.
  std::function<size_t()> Length;
  // Keeps the text from the given 0-based character on, dropping the rest.
  std::function<void(size_t from)> KeepFrom;
  // Shows the box's last lines and repaints at once.
  std::function<void()> Repaint;
  // Shows the fatal error box (title = program title) and returns when closed.
  std::function<void(const std::string& message)> ShowFatal;
  // Told every error report and every notice of a line the log file lost,
  // beside the box (for a mode that shows no box).
  std::function<void(const std::string& report)> ShowError;
};
void SetLogView(LogView view);
const LogView& CurrentLogView();

// Ends the program at once: what was stored stays stored (the files of the
// open data transaction read whole are committed, the one being read is
// undone), the settings are not saved, exit status
// exitEnded (exitFatal for a fatal start-up failure). Tests replace the end
// with a hook.
[[noreturn]] void EndProgram(int status = exitEnded);
void SetEndHook(std::function<void(int status)> hook);
// Run by EndProgram before the process ends (commits the whole files).
void SetBeforeEndHook(std::function<void()> hook);
// Adds work EndProgram does after that hook, in the order added: letting go
// of helper threads and their temporary files. It must not end the program.
void AtEndProgram(std::function<void()> cleanup);

}  // namespace ketch
