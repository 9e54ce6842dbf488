#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zeq {

// What a background thread pauses on between its rounds: raising it wakes the
// thread at once instead of at the end of the pause, so that stopping the
// service never waits out a pause.
class StopSignal {
  public:
    void raise() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            raised_ = true;
        }
        wake_.notify_all();
    }

    bool raised() {
        std::lock_guard<std::mutex> lock(mutex_);
        return raised_;
    }

    // Pauses for the length; false when raised (before or meanwhile).
    template <class Rep, class Period> bool pause(std::chrono::duration<Rep, Period> length) {
        std::unique_lock<std::mutex> lock(mutex_);
        return !wake_.wait_for(lock, length, [this] { return raised_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool raised_ = false;
};

} // namespace zeq
