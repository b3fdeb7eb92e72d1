// Work on a thread of its own while the calling thread waits for it and serves what the work
// hands back: the work calls onCaller(), which runs a function on the calling thread and returns
// when it has run. Only one of the two threads runs at any time, so the work's callbacks see
// what they would see if the work ran on the calling thread; the work only gets a core of its
// own, away from whatever the caller's callbacks do to theirs.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace korva {

class ServedThread {
 public:
  // Runs `work` on a new thread and serves its onCaller() calls until it returns; rethrows what
  // it threw. Call from the thread that is to serve.
  void run(const std::function<void()>& work);
  // From inside the work: runs `fn` on the serving thread, waits for it, and rethrows what it
  // threw. Called on the serving thread itself (a callback that the work's caller also uses
  // directly), or while no work runs, it just runs `fn`: waiting would wait for itself.
  void onCaller(const std::function<void()>& fn);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* request_ = nullptr;  // a function waiting to run on the caller
  std::exception_ptr requestError_;
  bool finished_ = false;
  std::thread::id worker_;  // the thread of the running work; none outside run()
};

}  // namespace korva
