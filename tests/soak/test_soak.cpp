// The demo's scene rendered for 5,000 frames at a small size, as the frame benchmark renders it
// (the light turning a fixed step a frame, the shadow pass, the scene pass, the supersampling
// filter and the blit): after the first frames the process must neither allocate nor grow.
//
// Every operator new of the executable is counted (the replacements below). Resident memory is
// read from /proc/self/statm: pages a frame touched for the first time, or memory a frame
// allocated and never gave back, would show there whatever allocated them.
#include "demo/demo_scene.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::atomic<unsigned long long> newCalls{0};

void* Allocate(std::size_t size)
{
    newCalls.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment)
{
    newCalls.fetch_add(1, std::memory_order_relaxed);
    const std::size_t a = static_cast<std::size_t>(alignment);
    void* p = nullptr;
    return posix_memalign(&p, a < sizeof(void*) ? sizeof(void*) : a, size ? size : 1) == 0
               ? p
               : nullptr;
}

// The deletes' one body, kept out of line: inlined into a caller, free() would meet a pointer
// that the caller had from operator new, which GCC flags as a mismatched pair.
__attribute__((noinline)) void Release(void* p) noexcept { std::free(p); }

}  // namespace

void* operator new(std::size_t size)
{
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t a)
{
    if (void* p = AllocateAligned(size, a)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t a)
{
    if (void* p = AllocateAligned(size, a)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return AllocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return AllocateAligned(size, a);
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }

namespace {

// Resident bytes of the process; 0 where /proc cannot be read.
long long ResidentBytes()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    long long size = 0, resident = 0;
    const int n = std::fscanf(f, "%lld %lld", &size, &resident);
    std::fclose(f);
    return n == 2 ? resident * sysconf(_SC_PAGESIZE) : 0;
}

// Under the sanitizers a frame costs up to fifty times as much, and their allocators keep
// memory of their own: there the soak runs 250 frames and checks allocations only. An
// unoptimised build runs 500.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KRV_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KRV_SOAK_SANITIZED 1
#endif
#endif
#if defined(KRV_SOAK_SANITIZED)
const int kFrames = 250;
const bool kCheckResident = false;
#elif !defined(__OPTIMIZE__)
const int kFrames = 500;
const bool kCheckResident = true;
#else
const int kFrames = 5000;
const bool kCheckResident = true;
#endif
const int kWarmUp = 50;  // the draw lists grow to the scene, the pool's threads start
const long long kResidentSlack = 1 << 20;

// The frame of the frame benchmark: RenderScene's three steps, then the filter and the blit
// into an image the size of the window.
void RenderFrame(HDC dc)
{
    RenderScene();
    krvRendering().SwapBuffers(dc);
}

TEST(Soak, FramesAfterTheFirstAllocateNothingAndKeepTheirMemory)
{
    ModuleDirectory = KRV_DEMO_DATA_DIR "/";
    ASSERT_TRUE(InitScene());
    ASSERT_GT(MdlOBJ.NumVertex, 0) << _3D_KRV_Report_Error.c_str();
    _3D_Korvane_Rendering& r = krvRendering();
    r.renderMode = KrvRenderMode_Speed;
    r.antiAliasing = KrvAA_2x2;
    const int width = 96, height = 72;
    _3D_KRV_Wnd.WMSize(width, height);
    HDC dc = krvplat::CreateImageDC(width, height);
    ASSERT_NE(dc, nullptr);
    _3D_KRV_Wnd.frameTime = 1.0f / 60.0f;
    // The demo's shadow map is 1024 x 1024; a small one keeps the pass's work (and the run)
    // short while every stage still runs.
    krvGenTextureShadowProjection(128, 128);

    for (int i = 0; i < kWarmUp; ++i) RenderFrame(dc);
    const long long residentAfterWarmUp = ResidentBytes();
    ASSERT_GT(residentAfterWarmUp, 0);
    const uint64_t trianglesAfterWarmUp = r.submittedTriangles;

    std::ostringstream trace;  // the resident size every 500 frames
    unsigned long long framesNewCalls = 0;
    int allocatingFrames = 0, firstAllocatingFrame = -1;
    for (int i = kWarmUp; i < kFrames; ++i) {
        const unsigned long long before = newCalls.load();
        RenderFrame(dc);
        const unsigned long long calls = newCalls.load() - before;
        framesNewCalls += calls;
        if (calls > 0 && allocatingFrames++ == 0) firstAllocatingFrame = i;
        if ((i + 1) % 500 == 0) trace << " " << (ResidentBytes() >> 10);
    }
    const long long residentAtEnd = ResidentBytes();

    // Every frame drew the whole scene.
    EXPECT_GT(r.submittedTriangles - trianglesAfterWarmUp,
              static_cast<uint64_t>(kFrames - kWarmUp) * 20000u);
    EXPECT_EQ(framesNewCalls, 0u) << allocatingFrames << " frames allocated, the first of them "
                                  << "frame " << firstAllocatingFrame;
    std::printf("resident KiB after %d frames %lld, then every 500 frames:%s\n", kWarmUp,
                residentAfterWarmUp >> 10, trace.str().c_str());
    if (kCheckResident) {
        EXPECT_LE(residentAtEnd - residentAfterWarmUp, kResidentSlack);
    }

    _3D_KRV_Wnd.hdc = nullptr;
    krvplat::DestroyImageDC(dc);
}

}  // namespace
