// Work run on another thread while the caller goes on: large loads and lowerings fill separate
// arrays side by side, as the first use of fresh memory costs more than the computing.
#pragma once

#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace krvx {

class Beside {
 public:
  // Starts work on its own thread when wanted and a thread is to be had, else runs it here (an
  // exception it throws then comes from join() all the same).
  template <class F> Beside(bool wanted, F &&work) {
    auto run = [this, w = std::forward<F>(work)]() mutable {
      try {
        w();
      } catch (...) {
        error_ = std::current_exception();
      }
    };
    if (wanted) {
      try {
        thread_ = std::thread(run);
        return;
      } catch (const std::system_error &) {
      }
    }
    run();
  }
  Beside(const Beside &) = delete;
  Beside &operator=(const Beside &) = delete;
  ~Beside() {
    if (thread_.joinable()) thread_.join();
  }
  // Waits for the work; rethrows what it threw.
  void join() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  std::thread thread_;
  std::exception_ptr error_;
};

// Whether a model of n rows and columns is large enough to fill side by side.
inline bool fillBeside(long long n) { return n >= (1LL << 20); }

}  // namespace krvx
