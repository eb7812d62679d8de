// Test helpers for rendering: a tiny render target owned by the test with ASCII maps of itself
// for failure messages, vertex builders in screen coordinates, and golden-image comparison.
#pragma once

#include "core/core.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

// Colour (3 bytes a pixel, blue, green, red, row 0 at the bottom) and depth arrays bound to a
// core through its target fields, without going through the core's own buffers.
struct TestTarget {
    int width, height;
    std::vector<uint8> color;
    std::vector<unsigned short> depth;

    TestTarget(int w, int h, bool withColor = true, bool withDepth = true);
    // Targets, maxX/maxY, the viewport (0, 0, w, h) and no supersampling.
    void Bind(_3D_Korvane_Core& core);
    void Clear();  // colour 0, depth 65535

    const uint8* Pixel(int x, int y) const { return &color[(size_t(y) * width + x) * 3]; }
    unsigned short Depth(int x, int y) const { return depth[size_t(y) * width + x]; }
    int CountColored() const;

    // One character a pixel, the top row first, rows separated by '\n'. ColorMap: '.' black,
    // otherwise a letter a distinct colour in order of first appearance (A, B, ...). DepthMap:
    // '.' for 65535, '#' otherwise.
    std::string ColorMap() const;
    std::string DepthMap() const;
};

// A texture record over texels the test owns: w x h in the given format, colour rows packed
// (pitch w * 3 as Create lays them out). The record owns nothing; never Destroy it.
inline CTexture TextureOver(void* bits, int w, int h, int format)
{
    CTexture t;
    t.Bits = static_cast<uint8*>(bits);
    t.Width = w;
    t.Height = h;
    t.Format = format;
    t.Pitch = format == KrvFormat_BGR ? w * 3 : 0;
    return t;
}

// Joins rows given top first into the form of TestTarget's maps.
std::string MapRows(std::initializer_list<const char*> rows);

// A vertex at screen position (sx, sy) for the core's current viewport and an identity
// modelViewProjection; z is clip-space z (0 maps to depth 0.5).
CVertex ScreenVertex(const _3D_Korvane_Core& core, float sx, float sy, float z = 0.0f,
                     vec3 rgb = vec3(1.0f, 1.0f, 1.0f));

// ---------------------------------------------------------------------------------------------
// Golden images: binary PPM files under KRV_TEST_DATA_DIR/golden. With KRV_UPDATE_GOLDEN=1 in
// the environment the reference is rewritten. On a mismatch the message gives the number of
// differing pixels and the largest channel difference with its place and both colours, and
// expected.ppm, actual.ppm and diff.ppm are written to <build>/golden-failures/<name>/.

// bgr: bottom-up rows of `stride` pixels, 3 bytes each (the core's buffer layout).
::testing::AssertionResult MatchesGolden(const std::string& name, const uint8* bgr, int width,
                                         int height, int stride);
// Top-down RGB in and out.
bool WritePpm(const std::string& path, const std::vector<uint8>& rgb, int width, int height);
bool ReadPpm(const std::string& path, std::vector<uint8>& rgb, int& width, int& height);

// Random shading switches and parameters for sweeps of the specialised span routines against
// their reference: every switch the pixel loop reads, the alpha, transparency and bump values
// and the material.
void RandomiseShading(_3D_Korvane_Core& core, std::mt19937& rng);
