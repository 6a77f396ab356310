// Turning a binary data file into text with the krun program. The converter
// writes its text beside its input, and beside the user's file a text of that
// name may be the user's own, so it always runs on a private copy in a
// private temporary folder.
//
// The analysis knows which files it reads next, and a conversion is mostly
// the cost of starting a process; so the files it names are converted ahead
// on a thread of their own while earlier files are stored. The reader still
// converts a file itself whenever no usable result is ready: converting ahead
// changes when the work is done, never what is read.
#pragma once

#include <string>

namespace ketch {

// Converts the binary file open on fd (read from its start) with the krun
// beside the program; returns a descriptor of its text, already unlinked, or
// -1 when any step fails. Leaves nothing behind either way. Raises nothing.
int ConvertBinaryFile(int fd);

// Whether binary files are decoded inside this program (DecodeBinaryFile)
// rather than by a krun process. Check sets it: it stores nothing, and
// starting a process per binary file would be most of its time. The
// analysis runs krun for every binary file, as it always has.
void DecodeInProcess(bool on);
bool DecodesInProcess();

// The text of the binary file open on fd (read from its start), made by the
// decoder krun is built from: byte for byte the text krun writes. False
// where krun would fail (wrong version, inconsistent file, unknown value
// type) or the file cannot be read. Raises nothing.
bool DecodeBinaryFile(int fd, std::string& text);

// Queues path (a game path, exactly as it will be given to the reader) for
// conversion ahead; a path already queued (compared without regard to case)
// is ignored. Text files are recognised and skipped by the converting thread.
void ConvertAhead(const std::string& path);

// The text of path converted ahead, when it was queued and its conversion is
// of the very file open on fd (same file, size and times); waits when that
// conversion is running. -1 when the caller must convert the file itself:
// not queued, not started yet, failed, or made from another file. Queued
// paths before path are given up: the reader has passed them. Raises nothing.
int TakeConverted(const std::string& path, int fd);

// Closes the descriptor of a converted text that was read. The last close of
// a deleted file frees its blocks, which can wait for the disk; the
// converting thread does that when it runs. Raises nothing.
void ReleaseConverted(int fd);

// Waits for a running conversion, drops every queued path and result and
// ends the converting thread. Raises nothing.
void StopConvertingAhead();

}  // namespace ketch
