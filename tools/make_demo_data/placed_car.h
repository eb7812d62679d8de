// The car read back with the renderer's loader and placed by its transforms (checks.cpp), and the
// pictures of it (preview.cpp).
#pragma once

#include "api/krv.h"
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>

struct PlacedCar {
    CObject body, glass, wheels[4];
    ~PlacedCar()
    {
        body.Destroy();
        glass.Destroy();
        for (CObject& w : wheels) w.Destroy();
    }
};

inline V3 PositionOf(const CVertex& v)
{
    return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}
inline V3 NormalOf(const CVertex& v)
{
    return {static_cast<double>(v.nx), static_cast<double>(v.ny), static_cast<double>(v.nz)};
}

// The bounds of a model's positions.
struct Box3 {
    V3 lo = {1e30, 1e30, 1e30}, hi = {-1e30, -1e30, -1e30};
    void Add(V3 p)
    {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    V3 Centre() const { return (lo + hi) * 0.5; }
    V3 Size() const { return hi - lo; }
};

inline Box3 Bounds(const CObject& m)
{
    Box3 b;
    for (int i = 0; i < m.NumVertex; ++i) b.Add(PositionOf(m.Vertex[i]));
    return b;
}
