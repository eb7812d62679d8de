// ThreadPool (namespace krvi): the persistent worker threads that draws, clearing, the
// supersampling filter and presentation share. One pool serves the process. The caller of Run
// is worker 0 and works too, so a count of 1 means no extra thread and Run is a plain call.
//
// Workers that finish a job spin briefly for the next one (draws follow each other within
// microseconds), then sleep until woken, so an idle program costs no processor time.
//
// A worker joins a job only while it is open: once the caller's own part has returned, Run
// closes the job and waits for the workers that joined, not for all of them. A job therefore
// shares its work out dynamically (a counter that every worker claims from) and never counts
// on a given worker taking part: with more threads than processors, a worker that the system
// has not scheduled yet costs the job nothing.
//
// A worker that has joined and is then descheduled still holds the job's end. So the pool
// watches for it: when the caller of a job waits a millisecond or more for a processor or for
// a worker, twice in a few dozen jobs (another process is busy on a core, or there are more
// threads than processors), the jobs that follow use half the workers, and after a rest the
// share grows back. The draws read the share when they start, so a frame keeps its bytes
// whatever the share is.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace krvi {

class ThreadPool {
public:
    typedef void (*Job)(void* context, int worker, int workers);

    // The process's pool. Its first use reads KRV_THREADS (a count >= 1); without it the pool
    // has one worker per hardware thread.
    static ThreadPool& Shared();

    ~ThreadPool();

    // Workers in all, the caller included (>= 1).
    int Threads() const;
    // The first Available() of them (>= 1) take part in jobs now; the others rest. Jobs in
    // which the threads lost their processors for a while (another process wanted a core, or
    // more threads than processors share them) halve the share, and it grows again after a
    // rest: the caller then need not wait at a job's end for a worker that the system keeps
    // descheduling. With the caller alone, a job is best run as one thread would.
    int Available() const;
    // Off: every worker takes part in every job, lost time or not (the tests that sweep
    // thread counts rely on it).
    void SetAdaptive(bool on);
    bool Adaptive() const;
    // n >= 1 sets the count; n <= 0 goes back to one a hardware thread. Waits for a running
    // job to end first, and returns once every new worker runs: the program forks for its
    // decoders right after setting the count, and a thread still in its start-up then may hold
    // a lock of the runtime (a sanitizer's allocator) that the child would wait for.
    void SetThreads(int n);

    // Runs job(context, i, Threads()) on the caller (i = 0) and on each worker i that joins
    // while the job is open, and returns when all of those have returned. The job must leave
    // nothing undone when only the caller runs it. Calls from several threads at once take
    // turns.
    void Run(Job job, void* context);

    static int HardwareThreads();
    // More workers in the jobs than hardware threads: waits should yield the processor rather
    // than spin.
    bool Oversubscribed() const { return Available() > HardwareThreads(); }

private:
    ThreadPool();
    void Start(int n);
    void Stop();
    void WorkerLoop(int index, unsigned seen);
    void Adapt(int64_t lost);

    mutable std::mutex runMutex_;  // one Run (or resize) at a time
    std::vector<std::thread> workers_;
    int threads_ = 1;

    Job job_ = nullptr;
    void* context_ = nullptr;
    // The job's generation (high 32 bits), whether it is open (kOpen) and the workers in it
    // (low bits): one word, so that joining and closing cannot cross.
    std::atomic<uint64_t> gate_{0};
    std::atomic<bool> stopping_{false};
    // The workers the jobs use, the caller included (Available; the futex word a resting
    // worker sleeps on). The rest of the share's state is the caller's, under runMutex_.
    std::atomic<int> active_{1};
    std::array<int64_t, 257> rest_{};  // microseconds, by share
    int64_t restUntil_ = 0;
    int sinceLoss_ = 0;  // jobs since the last that lost time
    bool adaptive_ = true;
    // Jobs started (and the stop): the word a sleeping worker waits on.
    std::atomic<int> jobs_{0};
    // The caller's sleep at the end of a job: the last worker to leave a closed job counts
    // `drained_` up and wakes the caller when `waiting_` says it sleeps.
    std::atomic<int> drained_{0};
    std::atomic<bool> waiting_{false};
    // Workers that have started running their loop; Start waits for all it made.
    std::atomic<int> running_{0};
};

// Sleeping waits on a word, for the waits inside a job: a thread that waits for another's
// result gives its processor away rather than spin or yield, so that with more threads than
// processors the thread it waits for runs at once. WaitWhile returns when `word` may no longer
// hold `value` (it can return early: callers test again); Wake wakes every waiter of `word`.
void WaitWhile(const std::atomic<int>& word, int value);
void Wake(std::atomic<int>& word);

// Rows [0, rows) cut into contiguous slices: body(first, end, slice) runs once for each slice,
// on whichever worker claims it first (the caller claims too). At most maxSlices slices, and at
// most Threads(); one slice is a plain call on the caller. The cut depends on the slice count
// only, so a body that writes nothing outside its rows gives the same bytes on any count.
// `body` is any callable; nothing is allocated. Not for use inside a job of the pool.
//
// Contiguous slices rather than the interleaved bands of the draws: the row loops that use
// this (the filter, clearing, the blits) cost the same on every row, so bands balance nothing.
// On two threads bands timed the same for the filter and the copies, and 8 to 11 % slower for
// the smoothing blit, whose line cache starts afresh at each band.
template <class Body>
void RunSlices(int rows, int maxSlices, const Body& body)
{
    struct Slices {
        const Body* body;
        int rows, slices;
        std::atomic<int> next;
    };
    const int slices = std::min(std::min(rows, maxSlices), ThreadPool::Shared().Threads());
    if (slices <= 1) {
        if (rows > 0) body(0, rows, 0);
        return;
    }
    Slices job{&body, rows, slices, {0}};
    ThreadPool::Shared().Run(
        [](void* context, int, int) {
            Slices& s = *static_cast<Slices*>(context);
            const int n = s.slices;
            for (int i; (i = s.next.fetch_add(1, std::memory_order_relaxed)) < n;) {
                const int first = static_cast<int>(int64_t{s.rows} * i / n);
                const int end = static_cast<int>(int64_t{s.rows} * (i + 1) / n);
                (*s.body)(first, end, i);
            }
        },
        &job);
}

// Slices for `units` of work (bytes, pixels) when a slice should have at least `minUnits`:
// splitting costs a wake-up of the workers, which a small image does not repay.
inline int SlicesFor(int64_t units, int64_t minUnits)
{
    const int64_t n = minUnits > 0 ? units / minUnits : units;
    return n < 1 ? 1 : (n > 256 ? 256 : static_cast<int>(n));
}

}  // namespace krvi
