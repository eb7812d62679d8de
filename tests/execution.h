// Threads and SIMD lanes for the tests that sweep them: a frame must come out with the same bytes
// on every combination, so golden frames and fast paths are checked on each.
#pragma once

#include "api/krv.h"
#include "core/draw_span_simd.h"
#include "platform/thread_pool.h"

#include <ostream>
#include <string>
#include <vector>

struct Execution {
    int threads;
    int lanes;
};

// Threads 1, 2, 3 and 7 (uneven counts give uneven slices, and 7 is more threads than a small
// image has row bands), each with the scalar loop and every wider width the processor runs.
inline std::vector<Execution> Executions()
{
    std::vector<Execution> all;
    for (int threads : {1, 2, 3, 7})
        for (int lanes : {1, 4, 8, 16})
            if (lanes == 1 || lanes <= krvi::SimdLanesAvailable()) all.push_back({threads, lanes});
    return all;
}

inline std::string ExecutionName(const Execution& e)
{
    return "threads" + std::to_string(e.threads) + "_lanes" + std::to_string(e.lanes);
}

inline void PrintTo(const Execution& e, std::ostream* os) { *os << ExecutionName(e); }

// Puts an execution in force; the thread count and lanes in force before come back at the end
// of the scope. Every thread of the count takes part in every draw meanwhile, however busy the
// machine, so that the count swept is the count drawn with.
class ScopedExecution {
public:
    explicit ScopedExecution(const Execution& e)
        : threads_(krvGetThreads()),
          lanes_(krvGetSimdWidth()),
          adaptive_(krvi::ThreadPool::Shared().Adaptive())
    {
        krvSetThreads(e.threads);
        krvSetSimdWidth(e.lanes);
        krvi::ThreadPool::Shared().SetAdaptive(false);
    }
    ~ScopedExecution()
    {
        krvi::ThreadPool::Shared().SetAdaptive(adaptive_);
        krvSetThreads(threads_);
        krvSetSimdWidth(lanes_);
    }
    ScopedExecution(const ScopedExecution&) = delete;
    ScopedExecution& operator=(const ScopedExecution&) = delete;

private:
    int threads_, lanes_;
    bool adaptive_;
};
