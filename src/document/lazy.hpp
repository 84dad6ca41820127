#pragma once
// A one-time cell: filled by exactly one caller while concurrent callers
// wait. If filling throws, the cell is left poisoned (no value) and the next
// caller fills it afresh.

#include <condition_variable>
#include <mutex>
#include <optional>

namespace kogane {

template <typename T>
class Lazy {
public:
    enum class State { Incomplete, Running, Complete, Poisoned };

    template <typename F>
    const T& get(F&& fill) const {
        std::unique_lock<std::mutex> lock(mutex_);
        while (state_ == State::Running) ready_.wait(lock);
        if (state_ == State::Complete) return *value_;
        state_ = State::Running;
        lock.unlock();
        try {
            T value = fill();
            lock.lock();
            value_.emplace(std::move(value));
            state_ = State::Complete;
        } catch (...) {
            lock.lock();
            state_ = State::Poisoned;
            ready_.notify_all();
            throw;
        }
        ready_.notify_all();
        return *value_;
    }

    State state() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable ready_;
    mutable State state_ = State::Incomplete;
    mutable std::optional<T> value_;
};

}  // namespace kogane
