#include "build/PageWriter.h"

#include "project/FileIO.h"

namespace brindle {

PageWriter::PageWriter(size_t depth) : depth_(depth ? depth : 1), thread_([this] { Run(); }) {}

PageWriter::~PageWriter() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  thread_.join();
}

bool PageWriter::Push(std::string path, std::string bytes) {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [&] { return queue_.size() < depth_ || error_; });
  if (error_) return false;
  queue_.push_back(Job{std::move(path), std::move(bytes)});
  changed_.notify_all();
  return true;
}

bool PageWriter::TakeWritten(std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  if (written_.empty()) return false;
  path = std::move(written_.front());
  written_.pop_front();
  return true;
}

void PageWriter::WaitIdle() {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [&] { return (queue_.empty() && !busy_) || error_; });
  // After an error the thread drops the queue; wait until it is not writing.
  changed_.wait(lock, [&] { return !busy_; });
}

void PageWriter::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    changed_.notify_all();  // room in the queue
    lock.unlock();
    std::exception_ptr failed;
    try {
      WriteFileBytes(job.path, job.bytes);
    } catch (...) {
      failed = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    if (failed) {
      error_ = failed;
      queue_.clear();
    } else {
      written_.push_back(std::move(job.path));
    }
    changed_.notify_all();
  }
}

}  // namespace brindle
