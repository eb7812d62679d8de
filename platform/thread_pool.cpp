#include "platform/thread_pool.h"

#include <pthread.h>
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Spins of a waiting worker before it sleeps: about a tenth of a millisecond, long enough to
// catch the next draw of a frame, short enough to leave an idle processor alone.
const int kSpinsBeforeSleep = 4000;
// Spins of a caller waiting for the workers before it sleeps (on a busy machine the thread it
// waits for may need the processor).
const int kSpinsBeforeDrainSleep = 2000;

// The share of the workers (ThreadPool::Available). A job loses time when its caller waited a
// millisecond or more for a processor, or for its workers at the end: two such jobs within
// kStrikeJobs (two frames of the demonstration) halve the share; after a rest it doubles again.
// A share's rest grows fourfold each time it fails, up to a second, and falls back to the
// shortest after a long run of jobs without a loss.
const int64_t kLostMicroseconds = 1000;
const int kStrikeJobs = 32;
const int64_t kShortestRest = 8000, kLongestRest = 1024000;  // microseconds
const int kJobsToForget = 256;

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

int64_t NowMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What a thread's part in a job cost it: the wall time, the processor time and the times the
// system took the processor away (a sleep of its own does not count).
struct Sample {
    int64_t wall = 0, cpu = 0;
    long preemptions = 0;

    static Sample Now()
    {
        Sample s;
        s.wall = NowMicroseconds();
#if defined(__linux__)
        rusage usage;
        if (getrusage(RUSAGE_THREAD, &usage) == 0) {
            s.cpu = (int64_t{usage.ru_utime.tv_sec} + usage.ru_stime.tv_sec) * 1000000 +
                    usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
            s.preemptions = usage.ru_nivcsw;
        }
#endif
        return s;
    }
    // The microseconds the thread waited for a processor since `start`: 0 unless it was
    // preempted meanwhile.
    int64_t LostSince(const Sample& start) const
    {
        if (preemptions == start.preemptions) return 0;
        const int64_t lost = (wall - start.wall) - (cpu - start.cpu);
        return lost > 0 ? lost : 0;
    }
};

}  // namespace

// The futex word is the atomic's own int: std::atomic<int> is lock-free and holds just the int
// on every target the platform layer builds for.
static_assert(sizeof(std::atomic<int>) == sizeof(int), "an atomic int is an int");

void krvi::WaitWhile(const std::atomic<int>& word, int value)
{
#if defined(__linux__)
    if (word.load(std::memory_order_acquire) != value) return;
    syscall(SYS_futex, reinterpret_cast<const int*>(&word), FUTEX_WAIT_PRIVATE, value, nullptr,
            nullptr, 0);
#else
    if (word.load(std::memory_order_acquire) == value) std::this_thread::yield();
#endif
}

void krvi::Wake(std::atomic<int>& word)
{
#if defined(__linux__)
    syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr,
            0);
#else
    (void)word;
#endif
}

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

int krvi::ThreadPool::Available() const
{
    return gForkedChild.load() ? 1 : active_.load(std::memory_order_relaxed);
}

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
    active_.store(n);
    rest_.fill(kShortestRest);
    restUntil_ = 0;
    sinceLoss_ = kStrikeJobs;
    running_.store(0);
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
    const int made = static_cast<int>(workers_.size());
    for (int running = running_.load(); running < made; running = running_.load())
        WaitWhile(running_, running);
}

void krvi::ThreadPool::Stop()
{
    stopping_.store(true);
    active_.store(INT_MAX);
    Wake(active_);
    gate_.store(NextGeneration(gate_.load()));
    jobs_.fetch_add(1);
    Wake(jobs_);
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
    if (active_.load(std::memory_order_relaxed) <= 1) {
        // Every worker rests: the caller alone, as with one thread.
        job(context, 0, n);
        Adapt(0);
        return;
    }
    const Sample start = Sample::Now();
    job_ = job;
    context_ = context;
    waiting_.store(false);
    // The new generation, then the count a sleeping worker waits on: a worker that read the
    // count before this increment sees the new generation or is woken by it (WorkerLoop).
    gate_.store(NextGeneration(gate_.load(std::memory_order_relaxed)) | kOpen);
    jobs_.fetch_add(1);
    Wake(jobs_);

    job(context, 0, n);
    const int64_t callerLost = Sample::Now().LostSince(start);
    const int64_t drainFrom = NowMicroseconds();

    // No worker joins from here on; those that did finish their part. The caller spins a
    // little (the others are about to end where the work was shared evenly), then sleeps until
    // the last one leaves: with more threads than processors, a worker the system descheduled
    // mid-region then gets the processor instead of a caller that yields it back and forth.
    gate_.fetch_and(~kOpen, std::memory_order_acq_rel);
    const int spinLimit = Oversubscribed() ? 0 : kSpinsBeforeDrainSleep;
    for (int spins = 0; (gate_.load() & kMembers) != 0; ++spins) {
        if (spins < spinLimit) {
            Pause();
            continue;
        }
        const int drained = drained_.load();
        waiting_.store(true);
        if ((gate_.load() & kMembers) == 0) break;
        WaitWhile(drained_, drained);
    }
    // A wait for the workers this long is one for a worker the system descheduled: regions
    // and slices take far less.
    const int64_t drain = NowMicroseconds() - drainFrom;
    Adapt(callerLost + (drain >= kLostMicroseconds ? drain : 0));
}

void krvi::ThreadPool::SetAdaptive(bool on)
{
    std::lock_guard<std::mutex> lock(runMutex_);
    adaptive_ = on;
    sinceLoss_ = kStrikeJobs;
    if (!on && active_.load() != threads_) {
        active_.store(threads_);
        Wake(active_);
    }
}

bool krvi::ThreadPool::Adaptive() const
{
    std::lock_guard<std::mutex> lock(runMutex_);
    return adaptive_;
}

void krvi::ThreadPool::Adapt(int64_t lost)
{
    if (!adaptive_) return;
    const int active = active_.load(std::memory_order_relaxed);
    const int64_t now = NowMicroseconds();
    // One loss may be another process's moment of work; a second one soon after is a core
    // taken away.
    const bool lossy = lost >= kLostMicroseconds;
    const bool failed = lossy && sinceLoss_ < kStrikeJobs;
    sinceLoss_ = lossy ? 0 : std::min(sinceLoss_ + 1, kJobsToForget);
    // A share that loses nothing for long forgets its failures.
    if (active > 1 && sinceLoss_ >= kJobsToForget)
        rest_[static_cast<size_t>(active)] = kShortestRest;
    if (failed && active > 1) {
        // Each share keeps its own rest: a share that fails every time it is tried (four
        // threads on two processors) rests long, one that fails now and then (two threads
        // while another process runs for a moment) comes back soon.
        int64_t& rest = rest_[static_cast<size_t>(active)];
        active_.store(active / 2, std::memory_order_relaxed);
        restUntil_ = now + rest;
        rest = std::min(rest * 4, kLongestRest);
        sinceLoss_ = kStrikeJobs;
        return;
    }
    if (active < threads_ && now >= restUntil_) {
        active_.store(std::min(active * 2, threads_), std::memory_order_relaxed);
        sinceLoss_ = kStrikeJobs;
        Wake(active_);
    }
}

void krvi::ThreadPool::WorkerLoop(int index, unsigned seen)
{
    // With more workers than processors a spinning worker takes the processor from one with
    // work: it sleeps at once.
    running_.fetch_add(1);
    Wake(running_);
    for (;;) {
        int spins = 0;
        const int spinLimit = Oversubscribed() ? 0 : kSpinsBeforeSleep;
        while (GenerationOf(gate_.load(std::memory_order_acquire)) == seen) {
            if (++spins < spinLimit) {
                Pause();
                continue;
            }
            // A futex on the job count, not a condition variable: the workers a job wakes
            // then need no lock on their way out of the sleep, and with more workers than
            // processors do not queue on one behind each other.
            const int jobs = jobs_.load();
            if (GenerationOf(gate_.load()) != seen) break;
            WaitWhile(jobs_, jobs);
        }
        uint64_t gate = gate_.load(std::memory_order_acquire);
        seen = GenerationOf(gate);
        if (stopping_.load(std::memory_order_acquire)) return;
        // A resting worker sleeps until the share takes it in again (or the pool stops).
        if (index >= active_.load(std::memory_order_relaxed)) {
            for (int active; index >= (active = active_.load());) WaitWhile(active_, active);
            continue;
        }
        // Join while the job is open and still the one seen; a job already closed (its work
        // done without this worker) is skipped.
        bool joined = false;
        while ((gate & kOpen) && GenerationOf(gate) == seen && !joined)
            joined = gate_.compare_exchange_weak(gate, gate + 1, std::memory_order_acq_rel,
                                                 std::memory_order_acquire);
        if (!joined) continue;
        job_(context_, index, threads_);
        // The last to leave a closed job wakes the caller if it sleeps (Run's end says why
        // neither can miss the other).
        const uint64_t left = gate_.fetch_sub(1) - 1;
        if ((left & kMembers) == 0 && !(left & kOpen)) {
            drained_.fetch_add(1);
            if (waiting_.load()) Wake(drained_);
        }
    }
}
