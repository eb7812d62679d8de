#include "platform/thread_pool.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Spins of a waiting worker before it sleeps: about a tenth of a millisecond, long enough to
// catch the next draw of a frame, short enough to leave an idle processor alone.
const int kSpinsBeforeSleep = 4000;
// Spins of a caller waiting for the workers before it yields its time slice
// (on a busy machine the thread it waits for may need the processor).
const int kSpinsBeforeYield = 2000;

inline void Pause()
{
#if defined(__SSE2__)
    _mm_pause();
#endif
}

// A child of fork() has only the thread that forked: the pool's workers are gone there, so its
// jobs run on the caller alone.
std::atomic<bool> gForkedChild{false};
void MarkForkedChild() { gForkedChild.store(true); }

const uint64_t kOpen = uint64_t{1} << 31;
const uint64_t kMembers = kOpen - 1;
inline unsigned GenerationOf(uint64_t gate) { return static_cast<unsigned>(gate >> 32); }
inline uint64_t NextGeneration(uint64_t gate) { return ((gate >> 32) + 1) << 32; }

int ThreadsFromEnvironment()
{
    const char* s = std::getenv("KRV_THREADS");
    if (!s || !*s) return 0;
    char* end = nullptr;
    long n = std::strtol(s, &end, 10);
    if (*end != '\0' || n < 1) return 0;
    return n > 256 ? 256 : static_cast<int>(n);
}

}  // namespace

int krvi::ThreadPool::HardwareThreads()
{
    unsigned n = std::thread::hardware_concurrency();
    if (n == 0) return 1;
    return n > 256 ? 256 : static_cast<int>(n);
}

krvi::ThreadPool& krvi::ThreadPool::Shared()
{
    // Built on first use and never destroyed: workers must not be joined while static
    // destructors run in an unknown order.
    static krvi::ThreadPool* pool = [] {
        pthread_atfork(nullptr, nullptr, MarkForkedChild);
        return new krvi::ThreadPool();
    }();
    return *pool;
}

krvi::ThreadPool::ThreadPool()
{
    int n = ThreadsFromEnvironment();
    Start(n > 0 ? n : HardwareThreads());
}

int krvi::ThreadPool::Threads() const { return gForkedChild.load() ? 1 : threads_; }

krvi::ThreadPool::~ThreadPool()
{
    std::lock_guard<std::mutex> lock(runMutex_);
    Stop();
}

void krvi::ThreadPool::SetThreads(int n)
{
    if (n <= 0) n = HardwareThreads();
    if (n > 256) n = 256;
    std::lock_guard<std::mutex> lock(runMutex_);
    if (n == threads_ || gForkedChild.load()) return;
    Stop();
    Start(n);
}

void krvi::ThreadPool::Start(int n)
{
    stopping_.store(false);
    threads_ = n;
    workers_.reserve(static_cast<size_t>(n - 1));
    for (int i = 1; i < n; ++i) {
        try {
            // The generation as it is now: a job started before the thread runs is still new
            // to it.
            workers_.emplace_back(&krvi::ThreadPool::WorkerLoop, this, i,
                                  GenerationOf(gate_.load()));
        } catch (...) {
            // No more threads to be had: the pool works with those it got.
            threads_ = i;
            break;
        }
    }
}

void krvi::ThreadPool::Stop()
{
    {
        std::lock_guard<std::mutex> lock(sleepMutex_);
        stopping_.store(true);
        gate_.store(NextGeneration(gate_.load()));
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    threads_ = 1;
}

void krvi::ThreadPool::Run(Job job, void* context)
{
    std::lock_guard<std::mutex> lock(runMutex_);
    const int n = gForkedChild.load() ? 1 : threads_;
    if (n <= 1) {
        job(context, 0, 1);
        return;
    }
    job_ = job;
    context_ = context;
    {
        // Under the lock, so a worker about to sleep either sees the new generation or is
        // already waiting when the notification comes.
        std::lock_guard<std::mutex> sleepLock(sleepMutex_);
        gate_.store(NextGeneration(gate_.load(std::memory_order_relaxed)) | kOpen,
                    std::memory_order_release);
    }
    wake_.notify_all();

    job(context, 0, n);

    // No worker joins from here on; those that did finish their part.
    gate_.fetch_and(~kOpen, std::memory_order_acq_rel);
    const int spinLimit = n > HardwareThreads() ? 0 : kSpinsBeforeYield;
    for (int spins = 0; (gate_.load(std::memory_order_acquire) & kMembers) != 0; ++spins) {
        if (spins < spinLimit)
            Pause();
        else
            std::this_thread::yield();
    }
}

void krvi::ThreadPool::WorkerLoop(int index, unsigned seen)
{
    // With more workers than processors a spinning worker takes the processor from one with
    // work: it sleeps at once.
    const int spinLimit = threads_ > HardwareThreads() ? 0 : kSpinsBeforeSleep;
    for (;;) {
        int spins = 0;
        while (GenerationOf(gate_.load(std::memory_order_acquire)) == seen) {
            if (++spins < spinLimit) {
                Pause();
                continue;
            }
            std::unique_lock<std::mutex> lock(sleepMutex_);
            wake_.wait(lock,
                       [&] { return GenerationOf(gate_.load(std::memory_order_acquire)) != seen; });
        }
        uint64_t gate = gate_.load(std::memory_order_acquire);
        seen = GenerationOf(gate);
        if (stopping_.load(std::memory_order_acquire)) return;
        // Join while the job is open and still the one seen; a job already closed (its work
        // done without this worker) is skipped.
        bool joined = false;
        while ((gate & kOpen) && GenerationOf(gate) == seen && !joined)
            joined = gate_.compare_exchange_weak(gate, gate + 1, std::memory_order_acq_rel,
                                                 std::memory_order_acquire);
        if (!joined) continue;
        job_(context_, index, threads_);
        gate_.fetch_sub(1, std::memory_order_acq_rel);
    }
}
