// The batching file system over SQLite's default one; see WalBatching.h.
#include "platform/db/detail/WalBatching.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace ketch::db {
namespace {

// The size of a frame header in the log; the four bytes at offset 4 are the
// database size after the commit in a commit frame and zero in any other.
constexpr int kFrameHeader = 24;
// SQLite's own file system writes at most 128 KB - 1 bytes per call (it
// masks larger sizes); that still holds a frame of the largest page, 64 KB.
constexpr size_t kBatchMax = 0x1ffff;

sqlite3_vfs* gBase = nullptr;
sqlite3_vfs gVfs;
sqlite3_io_methods gLogMethods;

// An open log file: the system's file follows this struct in the same block.
struct LogFile {
  sqlite3_file base;  // first, so that SQLite's pointer is ours
  sqlite3_file* file;
  char* batch;
  size_t used;
  sqlite3_int64 start;     // file offset of batch[0]
  sqlite3_int64 appendAt;  // end of the frames appended since the log began
  bool commitFrame;        // the batch ends in a commit frame's header
};

LogFile* Log(sqlite3_file* f) { return reinterpret_cast<LogFile*>(f); }
const sqlite3_io_methods& Base(LogFile* f) { return *f->file->pMethods; }

int Flush(LogFile* f) {
  if (f->used == 0) return SQLITE_OK;
  const int rc = Base(f).xWrite(f->file, f->batch, static_cast<int>(f->used), f->start);
  // Written or failed, the batch is done with: after a failed write SQLite
  // abandons the commit and overwrites those frames later.
  f->used = 0;
  f->commitFrame = false;
  return rc;
}

int Close(sqlite3_file* p) {
  LogFile* f = Log(p);
  const int flushed = Flush(f);
  const int rc = Base(f).xClose(f->file);
  std::free(f->batch);
  f->batch = nullptr;
  return flushed != SQLITE_OK ? flushed : rc;
}

int Read(sqlite3_file* p, void* out, int amount, sqlite3_int64 offset) {
  LogFile* f = Log(p);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return Base(f).xRead(f->file, out, amount, offset);
}

int Write(sqlite3_file* p, const void* data, int amount, sqlite3_int64 offset) {
  LogFile* f = Log(p);
  const size_t n = static_cast<size_t>(amount);
  // A new log starts with its header at 0. A write below the end of what was
  // appended rewrites a frame of the open transaction (a page changed again,
  // checksums after it): it goes to disk at once, as it may be the last write
  // before the commit becomes visible.
  if (offset == 0) f->appendAt = 0;
  const bool append = offset >= f->appendAt;
  // Whether the header before this write was a commit frame's; the flush
  // below, made to find room for its page, must not forget it.
  const bool endsCommit = f->commitFrame;
  if (f->used > 0 &&
      (!append || offset != f->start + static_cast<sqlite3_int64>(f->used) || f->used + n > kBatchMax)) {
    if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  }
  if (append) f->appendAt = offset + amount;
  if (!f->batch && append) f->batch = static_cast<char*>(std::malloc(kBatchMax));
  if (!append || !f->batch || n > kBatchMax) return Base(f).xWrite(f->file, data, amount, offset);
  if (f->used == 0) f->start = offset;
  std::memcpy(f->batch + f->used, data, n);
  f->used += n;
  if (amount == kFrameHeader) {
    static constexpr char kZero[4] = {};
    f->commitFrame = std::memcmp(static_cast<const char*>(data) + 4, kZero, 4) != 0;
    return SQLITE_OK;
  }
  // The page after a commit frame's header ends the commit: it goes to disk
  // now, and its failure is the commit's.
  return endsCommit ? Flush(f) : SQLITE_OK;
}

int Truncate(sqlite3_file* p, sqlite3_int64 size) {
  LogFile* f = Log(p);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return Base(f).xTruncate(f->file, size);
}

int Sync(sqlite3_file* p, int flags) {
  LogFile* f = Log(p);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return Base(f).xSync(f->file, flags);
}

int FileSize(sqlite3_file* p, sqlite3_int64* size) {
  LogFile* f = Log(p);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return Base(f).xFileSize(f->file, size);
}

int Lock(sqlite3_file* p, int level) { return Base(Log(p)).xLock(Log(p)->file, level); }
int Unlock(sqlite3_file* p, int level) { return Base(Log(p)).xUnlock(Log(p)->file, level); }
int CheckReservedLock(sqlite3_file* p, int* out) { return Base(Log(p)).xCheckReservedLock(Log(p)->file, out); }

int FileControl(sqlite3_file* p, int op, void* arg) {
  LogFile* f = Log(p);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return Base(f).xFileControl(f->file, op, arg);
}

int SectorSize(sqlite3_file* p) { return Base(Log(p)).xSectorSize(Log(p)->file); }
int DeviceCharacteristics(sqlite3_file* p) { return Base(Log(p)).xDeviceCharacteristics(Log(p)->file); }

int ShmMap(sqlite3_file* p, int page, int size, int extend, void volatile** out) {
  return Base(Log(p)).xShmMap(Log(p)->file, page, size, extend, out);
}
int ShmLock(sqlite3_file* p, int offset, int n, int flags) {
  return Base(Log(p)).xShmLock(Log(p)->file, offset, n, flags);
}
void ShmBarrier(sqlite3_file* p) { Base(Log(p)).xShmBarrier(Log(p)->file); }
int ShmUnmap(sqlite3_file* p, int deleteFlag) { return Base(Log(p)).xShmUnmap(Log(p)->file, deleteFlag); }

int Fetch(sqlite3_file* p, sqlite3_int64 offset, int amount, void** out) {
  LogFile* f = Log(p);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return Base(f).xFetch(f->file, offset, amount, out);
}
int Unfetch(sqlite3_file* p, sqlite3_int64 offset, void* mapped) {
  return Base(Log(p)).xUnfetch(Log(p)->file, offset, mapped);
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* p, int flags, int* outFlags) {
  if (!(flags & SQLITE_OPEN_WAL)) return gBase->xOpen(gBase, name, p, flags, outFlags);
  LogFile* f = Log(p);
  f->file = reinterpret_cast<sqlite3_file*>(f + 1);
  f->file->pMethods = nullptr;
  f->batch = nullptr;
  f->used = 0;
  f->start = 0;
  f->appendAt = 0;
  f->commitFrame = false;
  const int rc = gBase->xOpen(gBase, name, f->file, flags, outFlags);
  if (rc != SQLITE_OK) {
    if (f->file->pMethods) f->file->pMethods->xClose(f->file);
    p->pMethods = nullptr;
    return rc;
  }
  // The methods that a version of the system's file lacks stay absent.
  gLogMethods.iVersion = f->file->pMethods->iVersion < 3 ? f->file->pMethods->iVersion : 3;
  p->pMethods = &gLogMethods;
  return SQLITE_OK;
}

// Everything but opening is the system's.
int Delete(sqlite3_vfs*, const char* name, int syncDir) { return gBase->xDelete(gBase, name, syncDir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return gBase->xAccess(gBase, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return gBase->xFullPathname(gBase, name, n, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return gBase->xDlOpen(gBase, name); }
void DlError(sqlite3_vfs*, int n, char* out) { gBase->xDlError(gBase, n, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return gBase->xDlSym(gBase, handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { gBase->xDlClose(gBase, handle); }
int Randomness(sqlite3_vfs*, int n, char* out) { return gBase->xRandomness(gBase, n, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return gBase->xSleep(gBase, microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return gBase->xCurrentTime(gBase, out); }
int GetLastError(sqlite3_vfs*, int n, char* out) { return gBase->xGetLastError(gBase, n, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return gBase->xCurrentTimeInt64(gBase, out); }
int SetSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
  return gBase->xSetSystemCall(gBase, name, call);
}
sqlite3_syscall_ptr GetSystemCall(sqlite3_vfs*, const char* name) { return gBase->xGetSystemCall(gBase, name); }
const char* NextSystemCall(sqlite3_vfs*, const char* name) { return gBase->xNextSystemCall(gBase, name); }

}  // namespace

bool InstallWalBatching() {
  static const bool installed = [] {
    gBase = sqlite3_vfs_find(nullptr);
    // The forwarding below covers the methods of version 3.
    if (!gBase || gBase->iVersion < 3) return false;
    gLogMethods = {3,        Close,      Read,       Write,  Truncate,    Sync,
                   FileSize, Lock,       Unlock,     CheckReservedLock, FileControl,
                   SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier,
                   ShmUnmap, Fetch,      Unfetch};
    gVfs = sqlite3_vfs{};
    gVfs.iVersion = 3;
    gVfs.szOsFile = static_cast<int>(sizeof(LogFile)) + gBase->szOsFile;
    gVfs.mxPathname = gBase->mxPathname;
    gVfs.zName = "ketch-batched-wal";
    gVfs.xOpen = Open;
    gVfs.xDelete = Delete;
    gVfs.xAccess = Access;
    gVfs.xFullPathname = FullPathname;
    gVfs.xDlOpen = DlOpen;
    gVfs.xDlError = DlError;
    gVfs.xDlSym = DlSym;
    gVfs.xDlClose = DlClose;
    gVfs.xRandomness = Randomness;
    gVfs.xSleep = Sleep;
    gVfs.xCurrentTime = CurrentTime;
    gVfs.xGetLastError = GetLastError;
    gVfs.xCurrentTimeInt64 = CurrentTimeInt64;
    gVfs.xSetSystemCall = SetSystemCall;
    gVfs.xGetSystemCall = GetSystemCall;
    gVfs.xNextSystemCall = NextSystemCall;
    return sqlite3_vfs_register(&gVfs, 1) == SQLITE_OK;
  }();
  return installed;
}

}  // namespace ketch::db
