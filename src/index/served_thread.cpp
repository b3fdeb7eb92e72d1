#include "index/served_thread.h"

#include <thread>
#include <utility>

namespace korva {

void ServedThread::run(const std::function<void()>& work) {
  finished_ = false;
  request_ = nullptr;
  std::exception_ptr workError;
  // Held until the worker's id is recorded, which onCaller() reads.
  std::unique_lock<std::mutex> lock(mutex_);
  std::thread worker([&] {
    { std::lock_guard<std::mutex> started(mutex_); }
    try {
      work();
    } catch (...) {
      workError = std::current_exception();
    }
    std::lock_guard<std::mutex> finishing(mutex_);
    finished_ = true;
    changed_.notify_all();
  });
  worker_ = worker.get_id();
  for (;;) {
    changed_.wait(lock, [this] { return finished_ || request_ != nullptr; });
    if (request_ == nullptr) break;
    const std::function<void()>* fn = request_;
    lock.unlock();
    std::exception_ptr error;
    try {
      (*fn)();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    requestError_ = error;
    request_ = nullptr;
    changed_.notify_all();
  }
  worker_ = std::thread::id();
  lock.unlock();
  worker.join();
  if (workError) std::rethrow_exception(workError);
}

void ServedThread::onCaller(const std::function<void()>& fn) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (worker_ != std::this_thread::get_id()) {
    lock.unlock();
    fn();
    return;
  }
  request_ = &fn;
  changed_.notify_all();
  changed_.wait(lock, [this] { return request_ == nullptr; });
  if (std::exception_ptr error = std::exchange(requestError_, nullptr))
    std::rethrow_exception(error);
}

}  // namespace korva
