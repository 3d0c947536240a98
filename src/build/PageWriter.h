// Writes built pages to disk on a thread of its own, in the order they were
// handed in, so that building the next page overlaps writing this one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace brindle {

// One writer per build. Push, TakeWritten and Finish are for the one thread
// that owns the writer; the writer's own thread only writes files.
//
// The first file that cannot be written stops the writer: nothing after it
// is written, and Finish rethrows that error (EFCreateError) once every file
// before it has been reported by TakeWritten.
class PageWriter {
 public:
  // At most `depth` pages wait in memory; Push blocks beyond that.
  explicit PageWriter(size_t depth = 64);
  // Stops the thread; files still queued are not written.
  ~PageWriter();
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  // Queues a file. False when the writer has stopped at an error (the file
  // is then dropped).
  bool Push(std::string path, std::string bytes);
  // The next path written, in order; false when none is ready yet.
  bool TakeWritten(std::string& path);
  // Waits for every queued file, hands the remaining written paths to
  // `written`, then rethrows the writer's error if it stopped at one.
  template <class F>
  void Finish(F&& written) {
    WaitIdle();
    std::string path;
    while (TakeWritten(path)) written(path);
    if (error_) std::rethrow_exception(error_);
  }

 private:
  struct Job {
    std::string path, bytes;
  };
  void Run();
  void WaitIdle();

  const size_t depth_;
  std::mutex mu_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::deque<std::string> written_;
  bool busy_ = false;
  bool stopping_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace brindle
