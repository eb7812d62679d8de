// Comparisons the unit tests share: matrices and vectors element by element (exactly, or within
// a tolerance), and the viewport of a rendering context. A failure names the element.
#pragma once

#include "math/glmath.h"
#include "scene/rendering.h"

#include <gtest/gtest.h>

#include <vector>

inline void ExpectMatEq(const mat4x4& a, const mat4x4& b)
{
    for (int i = 0; i < 16; ++i) EXPECT_EQ(a[i], b[i]) << "flat element " << i;
}

inline void ExpectMatNear(const mat4x4& a, const mat4x4& b, float tol)
{
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], b[i], tol) << "flat element " << i;
}

inline void ExpectVecEq(const vec3& a, const vec3& b)
{
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.z, b.z);
}

// Two pictures (or depth buffers) of `width` pixels a row, `channels` values a pixel, compared
// value by value; a failure names the first differing pixel: x, y, channel and both values.
template <class T>
::testing::AssertionResult SameImage(const std::vector<T>& got, const std::vector<T>& want,
                                     int width, int channels)
{
    if (got.size() != want.size())
        return ::testing::AssertionFailure()
               << got.size() << " values where " << want.size() << " were expected";
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] == want[i]) continue;
        const size_t pixel = i / size_t(channels);
        return ::testing::AssertionFailure()
               << "first difference at pixel x " << pixel % size_t(width) << ", y "
               << pixel / size_t(width) << ", channel " << i % size_t(channels) << ": " << +got[i]
               << " where " << +want[i] << " was expected";
    }
    return ::testing::AssertionSuccess();
}

// A vertex's position and normal, for the comparisons above.
inline vec3 Pos(const CVertex& v) { return vec3(v.x, v.y, v.z); }
inline vec3 Nrm(const CVertex& v) { return vec3(v.nx, v.ny, v.nz); }

inline void ExpectVecNear(const vec3& a, const vec3& b, float tol = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

inline void ExpectViewport(const _3D_Korvane_Rendering& r, int x, int y, int w, int h)
{
    EXPECT_EQ(r.viewportX, x);
    EXPECT_EQ(r.viewportY, y);
    EXPECT_EQ(r.viewportWidth, w);
    EXPECT_EQ(r.viewportHeight, h);
}
