#include <tav/nvidia/loadlock>

#include <pthread.h>

#include <new>

namespace tav::nvidia::detail {

namespace {

// Every lock that was ever taken, newest first. Locks live in the bindings' static storage and are never removed.
std::atomic<LoadLock*> watchedLocks{nullptr};

}  // namespace

struct LoadLockForkHandler {
    // Runs in the child of every fork, while the child has only the forking thread.
    static void inChild() noexcept
    {
        const std::thread::id self = std::this_thread::get_id();
        for (LoadLock* lock = watchedLocks.load(std::memory_order_acquire); lock != nullptr;
             lock = lock->nextWatched_) {
            // The forking thread's own load goes on in the child and releases its lock itself.
            if (lock->holder_.load(std::memory_order_relaxed) == self) {
                continue;
            }
            if (lock->mutex_.try_lock()) {
                lock->mutex_.unlock();
                continue;
            }
            // Held by a thread that the child does not have: that load never finishes here, and nothing it left
            // was published, so the child starts with a free lock.
            new (&lock->mutex_) std::mutex;
            lock->holder_.store(std::thread::id(), std::memory_order_relaxed);
        }
    }
};

namespace {

// Installed as the library is loaded, so that it is in place before any lock can be taken.
[[maybe_unused]] const int forkHandlerInstalled = pthread_atfork(nullptr, nullptr, &LoadLockForkHandler::inChild);

}  // namespace

void LoadLock::watchForks() noexcept
{
    if (watched_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    LoadLock* head = watchedLocks.load(std::memory_order_relaxed);
    do {
        nextWatched_ = head;
    } while (!watchedLocks.compare_exchange_weak(head, this, std::memory_order_release, std::memory_order_relaxed));
}

bool LoadLock::lock() noexcept
{
    const std::thread::id self = std::this_thread::get_id();
    // Only this thread can have stored its own id.
    if (holder_.load(std::memory_order_relaxed) == self) {
        return false;
    }
    watchForks();
    mutex_.lock();
    holder_.store(self, std::memory_order_relaxed);
    return true;
}

bool LoadLock::tryLock() noexcept
{
    const std::thread::id self = std::this_thread::get_id();
    if (holder_.load(std::memory_order_relaxed) == self) {
        return false;
    }
    watchForks();
    if (!mutex_.try_lock()) {
        return false;
    }
    holder_.store(self, std::memory_order_relaxed);
    return true;
}

void LoadLock::unlock() noexcept
{
    holder_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
}

}  // namespace tav::nvidia::detail
