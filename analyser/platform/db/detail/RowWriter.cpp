// The writing thread: the caller fills a batch and hands it over when it is
// full, after a statement, or when the database is about to be used
// otherwise; the thread carries the batches out in order and gives them back
// for reuse, so that a text field's buffer is reused from row to row.
#include "platform/db/detail/RowWriter.h"

#include "platform/db/Database.h"

namespace ketch::db {
namespace {

// Rows per batch: a hand-over can cost a wake-up of the other thread, and a
// data file has a few thousand rows.
constexpr size_t kBatchRows = 1024;
// Batches waiting for the thread; the caller waits beyond that until the
// queue is down to kQueuedLow, so that the two threads do not wake each
// other for every batch (each wake-up can take the other's core away).
constexpr size_t kQueuedMax = 4;
constexpr size_t kQueuedLow = 1;

}  // namespace

RowWriter::RowWriter(std::function<void(const std::string&)> execute, std::function<void()> failed,
                     std::function<void()> waiting)
    : execute_(std::move(execute)),
      onFailure_(std::move(failed)),
      waiting_(std::move(waiting)),
      gathering_(std::make_unique<Batch>()),
      thread_([this] { Work(); }) {}

RowWriter::~RowWriter() {
  Wait();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_one();
  thread_.join();
}

void RowWriter::Check() {
  if (failed_.load(std::memory_order_acquire)) Settle();
}

void RowWriter::Add(Recordset& rs, const std::vector<Variant>& values, const std::vector<char>& set) {
  Check();
  Batch& b = *gathering_;
  const size_t n = values.size();
  if (b.values.size() < b.used + n) {
    b.values.resize(b.used + n);
    b.set.resize(b.used + n);
  }
  for (size_t i = 0; i < n; ++i) {
    // Assigning into the held value keeps its text buffer.
    if (set[i]) b.values[b.used + i] = values[i];
    b.set[b.used + i] = set[i];
  }
  b.used += n;
  if (b.sets.size() <= b.rows) b.sets.resize(b.rows + 1);
  b.sets[b.rows++] = &rs;
  if (b.rows == kBatchRows) {
    std::unique_lock<std::mutex> lock(mutex_);
    HandOver(lock);
  }
}

void RowWriter::Execute(std::string sql) {
  Check();
  Batch& b = *gathering_;
  if (b.sets.size() <= b.rows) b.sets.resize(b.rows + 1);
  b.sets[b.rows++] = nullptr;
  b.sql.push_back(std::move(sql));
  std::unique_lock<std::mutex> lock(mutex_);
  HandOver(lock);
}

template <class Ready>
void RowWriter::AwaitDone(std::unique_lock<std::mutex>& lock, Ready ready) {
  if (!waiting_) return done_.wait(lock, ready);
  while (!done_.wait_for(lock, std::chrono::milliseconds(100), ready)) {
    lock.unlock();
    waiting_();
    lock.lock();
  }
}

// Queues the gathering batch and takes a spare one in its place; when the
// queue is full, waits until it is down to kQueuedLow.
void RowWriter::HandOver(std::unique_lock<std::mutex>& lock) {
  if (gathering_->rows == 0) return;
  if (queued_.size() >= kQueuedMax) AwaitDone(lock, [this] { return queued_.size() <= kQueuedLow; });
  queued_.push_back(std::move(gathering_));
  if (spare_.empty()) {
    gathering_ = std::make_unique<Batch>();
  } else {
    gathering_ = std::move(spare_.back());
    spare_.pop_back();
  }
  work_.notify_one();
}

void RowWriter::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  HandOver(lock);
  AwaitDone(lock, [this] { return queued_.empty() && !busy_; });
  lock.unlock();
  // A wait that ended just now is told too.
  if (waiting_) waiting_();
}

void RowWriter::Settle() {
  if (std::exception_ptr failure = Finish()) std::rethrow_exception(failure);
}

std::exception_ptr RowWriter::Finish() {
  Wait();
  std::lock_guard<std::mutex> lock(mutex_);
  std::exception_ptr failure = std::move(failure_);
  failure_ = nullptr;
  failed_.store(false, std::memory_order_release);
  if (failure && onFailure_) onFailure_();
  return failure;
}

void RowWriter::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || !queued_.empty(); });
    if (queued_.empty()) return;  // stop_, and nothing left to write
    std::unique_ptr<Batch> batch = std::move(queued_.front());
    queued_.pop_front();
    busy_ = true;
    // Rows after a failure are dropped, as they would be had the failure
    // been raised at once.
    const bool skip = failure_ != nullptr;
    lock.unlock();
    std::exception_ptr failure;
    if (!skip) {
      try {
        Write(*batch);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    batch->rows = batch->used = 0;
    batch->sql.clear();
    lock.lock();
    if (failure) {
      failure_ = failure;
      failed_.store(true, std::memory_order_release);
    }
    spare_.push_back(std::move(batch));
    busy_ = false;
    if (queued_.size() <= kQueuedLow) done_.notify_all();
  }
}

void RowWriter::Write(Batch& batch) {
  size_t at = 0, statement = 0;
  for (size_t r = 0; r < batch.rows; ++r) {
    if (!batch.sets[r]) {
      execute_(batch.sql[statement++]);
      continue;
    }
    Recordset& rs = *batch.sets[r];
    rs.WriteNew(&batch.values[at], &batch.set[at]);
    at += static_cast<size_t>(rs.FieldCount());
  }
}

}  // namespace ketch::db
