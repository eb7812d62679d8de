// Whole small scenes pinned by their bytes: any change to the pipeline's arithmetic or order of
// operations shows up here, on every thread count and SIMD width. Rewrite the references with
// KRV_UPDATE_GOLDEN=1 after a deliberate change, and look at them before committing.
#include "core/core.h"
#include "tests/execution.h"
#include "tests/golden.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const int kWidth = 64, kHeight = 48;

CVertex Corner(float x, float y, float z)
{
    return CVertex{x, y, z, (x + 1.0f) * 0.5f, (y + 1.0f) * 0.5f, (z + 1.0f) * 0.5f, 0, 0, 0,
                   0, 0, {}};
}

// A cube of side 2 coloured by position, faces counter-clockwise seen from outside, standing
// on a grey floor.
std::vector<CVertex> CubeScene()
{
    const float quads[6][4][3] = {
        {{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}},
        {{-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}},
        {{-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}, {1, 1, -1}},
        {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}},
        {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
        {{-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1}},
    };
    std::vector<CVertex> v;
    for (const auto& q : quads) {
        const int order[6] = {0, 1, 2, 0, 2, 3};
        for (int i : order) v.push_back(Corner(q[i][0], q[i][1], q[i][2]));
    }
    const float floor[6][2] = {{-3, -3}, {-3, 3}, {3, 3}, {-3, -3}, {3, 3}, {3, -3}};
    for (const auto& f : floor)
        v.push_back(CVertex{f[0], -1.25f, f[1], 0.3f, 0.3f, 0.35f, 0, 0, 0, 0, 0, {}});
    return v;
}

mat4x4 Camera(vec3 eye)
{
    return perspective(45.0f, float(kWidth) / float(kHeight), 0.5f, 20.0f) *
           look(eye, vec3(0.0f, 0.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f));
}

void Prepare(_3D_Korvane_Core& core, int antiAliasing)
{
    core.antiAliasing = antiAliasing;
    core.ResizeBuffers(kWidth, kHeight);
    core.Viewport(0, 0, kWidth, kHeight);
    core.Clear(true, true);
}

class Golden : public ::testing::TestWithParam<Execution> {
protected:
    ScopedExecution execution{GetParam()};
};

TEST_P(Golden, ColouredCube)
{
    _3D_Korvane_Core core;
    Prepare(core, KrvAA_Off);
    core.LoadModelViewProjectionMatrix(Camera(vec3(2.5f, 2.0f, 3.5f)));
    std::vector<CVertex> v = CubeScene();
    core.DrawTriangles(v.data(), 0, int(v.size()));
    EXPECT_TRUE(MatchesGolden("cube", core.colorBuffer, kWidth, kHeight, core.colorWidth));
}

TEST_P(Golden, TriangleCutByTheNearAndSidePlanes)
{
    _3D_Korvane_Core core;
    Prepare(core, KrvAA_Off);
    core.SetCullFace(KrvCullMode_None);
    core.LoadModelViewProjectionMatrix(Camera(vec3(0.0f, 0.5f, 3.0f)));
    // The third corner lies behind the eye, the first two far beyond the sides.
    std::vector<CVertex> v = {CVertex{-8.0f, -0.5f, -4.0f, 1, 0, 0, 0, 0, 0, 0, 0, {}},
                              CVertex{8.0f, -0.5f, -4.0f, 0, 1, 0, 0, 0, 0, 0, 0, {}},
                              CVertex{0.0f, -0.5f, 8.0f, 0, 0, 1, 0, 0, 0, 0, 0, {}}};
    core.DrawTriangles(v.data(), 0, 3);
    EXPECT_TRUE(MatchesGolden("clipped", core.colorBuffer, kWidth, kHeight, core.colorWidth));
}

TEST_P(Golden, SupersampledCubeResolved)
{
    _3D_Korvane_Core core;
    Prepare(core, KrvAA_2x2);
    ASSERT_EQ(core.targetColorWidth, 2 * kWidth);
    core.LoadModelViewProjectionMatrix(Camera(vec3(-2.0f, 1.5f, 4.0f)));
    std::vector<CVertex> v = CubeScene();
    core.DrawTriangles(v.data(), 0, int(v.size()));
    core.SetAntiAliasingFilter(KrvAA_2x2);
    EXPECT_TRUE(
        MatchesGolden("cube_supersampled", core.colorBuffer, kWidth, kHeight, core.colorWidth));
}

INSTANTIATE_TEST_SUITE_P(Sweep, Golden, ::testing::ValuesIn(Executions()),
                         [](const ::testing::TestParamInfo<Execution>& named) {
                             return ExecutionName(named.param);
                         });

}  // namespace
