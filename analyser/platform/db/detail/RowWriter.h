// New records of a database's table record sets, and the statements that
// begin and commit their transactions, carried out by a thread of their own
// in the order they were handed over. Checking a data file and storing its
// rows then share the work between two cores: the caller copies a row and
// goes on with the next one (or with the next file while the last one
// commits) while SQLite inserts the rows before it. The thread uses the
// database's own connection, so the database waits for it (Settle) before it
// uses the connection in any other way. What is queued at a time is bounded,
// so memory does not grow with the load.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Variant.h"

namespace ketch::db {

class Recordset;

class RowWriter {
 public:
  // execute runs one SQL statement on the connection, raising its failure;
  // failed runs on the caller's thread when a failure is handed over, with
  // nothing left queued, so that the caller can take stock of what was done.
  // waiting runs on the caller's thread every tenth of a second while it
  // waits for the thread.
  RowWriter(std::function<void(const std::string&)> execute, std::function<void()> failed,
            std::function<void()> waiting = {});
  // Carries out what was handed over, then ends the thread; an unreported
  // failure is dropped (Finish gives it).
  ~RowWriter();
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // Queues a copy of a new record of rs: values[i] is written when set[i] is
  // not 0. Raises the failure of an earlier row first, once, as Settle does.
  void Add(Recordset& rs, const std::vector<Variant>& values, const std::vector<char>& set);
  // Queues a statement after the rows added so far and lets the thread start
  // on them. Raises as Add does.
  void Execute(std::string sql);
  // Returns when everything handed over is done. Raises the first failure
  // since the last one raised; the row or statement that failed and all that
  // was handed over after it were not carried out.
  void Settle();
  // Settle when something has failed; otherwise returns at once.
  void Check();
  // Settle without raising: the failure stays for the next Add or Settle.
  void Wait();
  // Waits like Wait and hands over the unraised failure (null for none).
  std::exception_ptr Finish();

 private:
  struct Batch {
    std::vector<Recordset*> sets;  // one per row; null for a statement
    std::vector<std::string> sql;  // the statements, in order
    std::vector<Variant> values;   // the rows' fields one after the other
    std::vector<char> set;
    size_t rows = 0, used = 0;     // used: fields filled in values and set
  };

  void HandOver(std::unique_lock<std::mutex>& lock);
  // Waits on done_ until ready holds, running waiting_ between looks.
  template <class Ready>
  void AwaitDone(std::unique_lock<std::mutex>& lock, Ready ready);
  void Work();
  void Write(Batch& batch);

  std::function<void(const std::string&)> execute_;
  std::function<void()> onFailure_;
  std::function<void()> waiting_;
  std::unique_ptr<Batch> gathering_;  // the caller's; handed over when full
  std::mutex mutex_;
  std::condition_variable work_;  // the thread: a batch is queued, or stop
  std::condition_variable done_;  // the caller: a batch is written
  std::deque<std::unique_ptr<Batch>> queued_;
  std::vector<std::unique_ptr<Batch>> spare_;
  bool busy_ = false;  // the thread is writing a batch it took off the queue
  bool stop_ = false;
  std::exception_ptr failure_;
  std::atomic<bool> failed_{false};  // failure_ is set: read without the lock
  std::thread thread_;
};

}  // namespace ketch::db
