// The data database VD.MDB: building it afresh (three tables and their
// indexes, linked into the settings database), the process-wide handle on
// it, and the transactions in which the rows of the data files are written,
// whole files only, several to one.
#pragma once

#include <memory>
#include <string>

#include "platform/db/Database.h"

namespace ketch {

// The process-wide data-database handle (empty before a successful
// InitDataDB and after a failed one).
std::unique_ptr<db::Database>& DataDBHandle();
// The open data database, or null.
db::Database* DataDB();

// Deletes and recreates the data database fileName in the data folder
// (Locations::DataFolder) with Sections, Entries and Values, their indexes and
// the view Lines, links the three tables into the settings database (by the
// bare file name when both lie in one folder) and leaves handle open on it. Logs its progress;
// returns false (handle empty) after logging "Unable to delete " or "Unable
// to create " with the path. A file that another process holds open is not
// deleted. A failure before the deletion ends the program.
bool InitDataDB(const std::string& fileName, std::unique_ptr<db::Database>& handle);

// Closes the data database (what the last files left open is committed) and
// forgets its group of files; does nothing when none is open. Raises a
// failure of the commit.
void CloseDataDB();

// Adds the indexes on the names people query the rows by (Sections.File,
// Sections.Section, Entries.Entry), once every file is committed; does
// nothing when no data database is open. Raises the database's error.
void IndexDataDB();

// Starts the rows of one data file: they join the transaction of the files
// before it, or a new one; raises 91 when no data database is open and 21
// when a file is already open.
void BeginDataTrans();
// Ends the rows of that file; its transaction is committed when it holds
// enough files (and when no file was begun). Commits, like the rows, are
// carried out in the background.
void CommitDataTrans();
// Commits the files ended so far and returns when other connections see
// them; raises a failure of the background writing.
void CommitDataFiles();

}  // namespace ketch
