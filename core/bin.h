// The draw's work distribution (bin.cpp) and the vertex stage it calls (submit.cpp).
//
// One thread sets up and draws each triangle before the next. Several share a draw in two
// phases. Set-up: the triangles go in chunks, each claimed by whichever thread is free, which
// transforms, clips and sets up the chunk's triangles into the chunk's record list and bins
// every record by the screen regions (bands of rows) its rows touch. Rows: each thread claims
// whole regions and draws, for its region, the records of every chunk in submission order.
// Regions are handed out once every chunk is binned, those with the most records first, so
// that the last regions of a draw are its cheapest and the threads end together. Each pixel thus
// sees the same triangles in the same order as on one thread, so the frame has the same bytes on
// any thread count, and no thread waits for another's rows: one that the system deschedules holds
// up only the region it has claimed.
#pragma once

#include "core/draw_state.h"

#include <cstdint>

namespace krvi {

// A new work record, owning ReleaseDrawWork as its release.
DrawWorkPtr NewDrawWork();
void ReleaseDrawWork(DrawWork* work);

// The draw state that PrepareDraw fills for the next RunBinnedDraw, kept in the work.
krvi::DrawState& StateOf(DrawWork& work);

// Draws triangles [0, triangles) of `vertices` with the state of StateOf(work) on `threads`
// threads of the shared pool (1: on the caller alone). Returns whether a fragment reached the
// depth test, and its depth in `lastDepth`: the last one in submission order.
bool RunBinnedDraw(DrawWork& work, const CVertex* vertices, int64_t triangles, int threads,
                   unsigned short& lastDepth);

// The height of the regions that `threads` threads share `rows` rows by: a power of two from
// 2 to 32, small enough for three regions a thread where the rows allow.
int RegionRows(int rows, int threads);

// Tests and measurements only: a routine that every thread of a pass calls with its worker
// index, the pass (a number that grows from pass to pass) and the region it is about to draw,
// then with kPassDone after its last region; null: none. The tests stand for a thread the
// system deschedules with it, the scaling benchmark times the regions.
const int kPassDone = -1;
typedef void (*RegionHook)(int worker, uint64_t pass, int region);
void SetRegionHook(RegionHook hook);

}  // namespace krvi
