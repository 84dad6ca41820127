#pragma once
// Whether the engine may start a helper thread for a long book: the HTML
// renderer beside the thread building the host string, and the search for
// far annotation targets beside the classifier. A helper saves time only
// where a core would otherwise idle, and costs some CPU, so a process that
// already keeps every core busy (a batch worker) turns helpers off. No
// result depends on it.

#include <atomic>

namespace kogane {

inline std::atomic<bool>& helper_threads_switch() {
    static std::atomic<bool> allowed{true};
    return allowed;
}

inline bool helper_threads_allowed() { return helper_threads_switch().load(std::memory_order_relaxed); }

// Sets whether helpers may start; returns the previous setting.
inline bool allow_helper_threads(bool allowed) { return helper_threads_switch().exchange(allowed); }

}  // namespace kogane
