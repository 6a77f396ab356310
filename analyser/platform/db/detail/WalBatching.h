// Batched writes of SQLite's write-ahead log. SQLite writes every page of a
// commit to the log with two calls (frame header, then page), and on a
// virtual machine each call into the kernel costs about as much as copying
// the page: a data file's commit of some seventy pages made 140 calls. This
// layer between SQLite and the file system keeps consecutive writes of a log
// file in memory and writes them with one call when the commit's last frame
// has been written, and before anything else reads, sizes, syncs or closes
// the file. So when a commit returns, and whenever a reader can learn of it,
// the log on disk holds exactly what SQLite wrote, and a write error fails
// the commit as before. Files other than logs are SQLite's own, untouched.
#pragma once

namespace ketch::db {

// Makes the batching layer SQLite's default file system, over the system's
// own. Call once, after configuring SQLite and before the first connection;
// later calls do nothing. Returns false when SQLite refuses it (connections
// then use the system's file system directly).
bool InstallWalBatching();

}  // namespace ketch::db
