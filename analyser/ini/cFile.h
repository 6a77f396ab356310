// The INI line reader: gives out the lines of one game data file, cleaned of
// tabs, comments and outer blanks, with the two known malformed line forms
// repaired and logged, and one line of push-back. It hides whether the file is
// text or binary: a binary file is converted by the krun program first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ini/LineSource.h"
#include "platform/Error.h"

namespace ketch {

// Number of the error raised when a binary file cannot be converted.
constexpr int32_t errKrunFailed = vbObjectError + 1024;

class cFile {
 public:
  cFile() = default;
  // Closes the reader.
  ~cFile();
  cFile(const cFile&) = delete;
  cFile& operator=(const cFile&) = delete;

  // Closes whatever is open, takes path as FileName and opens it (an empty
  // path only closes). Raises 53 or 76 when the file or its folder is missing
  // and errKrunFailed when a binary file cannot be converted; either way
  // FileName stays set and nothing is open.
  void FileName(const std::string& path);
  // The path as last given, also when the lines come from a converted text.
  const std::string& FileName() const { return fileName_; }

  // Physical lines taken from the open file since it was opened.
  int32_t LineNum() const { return lineNum_; }

  // True when the lines come from the converter's text of a binary file.
  bool IsConverted() const { return isConverted_; }

  // True when no pushed-back line waits and the open file has no further line
  // (also when nothing is open). Raises the platform's error when reading fails.
  bool EndOfFile();

  // The next cleaned and repaired line; raises error 62 past the end.
  std::string ReadLine();
  // The same, into line, reusing its storage.
  void ReadLine(std::string& line);

  // Makes line the next one ReadLine gives out (cleaned and repaired again),
  // replacing a line pushed back before; LineNum does not change.
  void Backline(const std::string& line);

  // Closes, takes name as FileName and reads the lines of source as those of
  // a text file, without looking for the binary magic.
  void OpenSource(const std::string& name, std::unique_ptr<LineSource> source);

 private:
  // Closes the open file and clears every field.
  void CloseFile();
  // Opens path, converting it first when it starts with the binary magic.
  void Open(const std::string& path);
  // Makes the lines of the binary file open on fd: its text converted ahead,
  // decoded here, or converted now; raises errKrunFailed.
  void Convert(int fd);
  // Repairs a malformed line in place, logging it and pushing back its rest.
  void Repair(std::string& line);

  std::string fileName_;
  std::unique_ptr<LineSplitter> lines_;
  int32_t lineNum_ = 0;
  bool isConverted_ = false;
  std::string pendingLine_;
  bool hasPendingLine_ = false;
};

}  // namespace ketch
