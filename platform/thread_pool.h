// KrvThreadPool: the persistent worker threads that draws, the supersampling filter and the
// presentation share. One pool serves the process. The caller of Run is worker 0 and works
// too, so a count of 1 means no extra thread and Run is a plain call.
//
// Workers that finish a job spin briefly for the next one (draws follow each other within
// microseconds), then sleep until woken, so an idle program costs no processor time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class KrvThreadPool {
public:
    typedef void (*Job)(void* context, int worker, int workers);

    // The process's pool. Its first use reads KRV_THREADS (a count >= 1); without it the pool
    // has one worker per hardware thread.
    static KrvThreadPool& Shared();

    ~KrvThreadPool();

    // Workers in all, the caller included (>= 1).
    int Threads() const;
    // n >= 1 sets the count; n <= 0 goes back to one a hardware thread. Waits for a running
    // job to end first.
    void SetThreads(int n);

    // Runs job(context, i, Threads()) on every worker i and returns when all have returned.
    // Calls from several threads at once take turns.
    void Run(Job job, void* context);

    static int HardwareThreads();

private:
    KrvThreadPool();
    void Start(int n);
    void Stop();
    void WorkerLoop(int index, unsigned seen);

    std::mutex runMutex_;  // one Run (or resize) at a time
    std::mutex sleepMutex_;
    std::condition_variable wake_;
    std::vector<std::thread> workers_;
    int threads_ = 1;

    Job job_ = nullptr;
    void* context_ = nullptr;
    std::atomic<unsigned> generation_{0};
    std::atomic<int> pending_{0};
    std::atomic<bool> stopping_{false};
};

// A barrier for the workers of one job: every one of `count` threads calls Wait, and none
// returns before all have arrived. Reusable: the next Wait starts the next phase.
class KrvBarrier {
public:
    explicit KrvBarrier(int count) : count_(count) {}
    void Wait();

private:
    const int count_;
    std::atomic<int> arrived_{0};
    std::atomic<unsigned> phase_{0};
};
