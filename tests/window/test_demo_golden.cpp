// The demo's frame pinned by its bytes: the scene from the source tree's data folder, rendered
// the way a paint renders it (held keys, the light's turn with the shadow pass, the scene pass,
// the supersampling filter) at a small size and a fixed light angle, on every thread count and
// SIMD width.
//
// After an intended change of the picture or of the data set, rewrite the reference and look at
// it:  KRV_UPDATE_GOLDEN=1 build/tests/window/krv_window_tests --gtest_filter='*DemoGolden*'
#include "tests/execution.h"
#include "tests/golden.h"
#include "tests/window/demo_window.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

namespace {

struct Config {
    const char* name;
    int width, height, renderMode, antiAliasing;
    float seconds;  // the light turns 11.25 degrees a second
    bool textures;
    float raise;  // the camera's turn up, in the mouse's pixels (CCamera::MoveView)
};

void PrintTo(const Config& c, std::ostream* os) { *os << c.name; }

class DemoGolden : public ::testing::TestWithParam<std::tuple<Config, Execution>> {
protected:
    ScopedExecution execution{std::get<1>(GetParam())};

    void SetUp() override
    {
        const DemoScene& scene = LoadDemoScene();
        ASSERT_TRUE(scene.loaded);
        ASSERT_EQ(scene.errors, "") << "the demo's data set in " KRV_DEMO_DATA_DIR " is incomplete";
        ResetDemoState();
        savedDC = _3D_KRV_Wnd.hdc;
    }
    void TearDown() override
    {
        _3D_KRV_Wnd.hdc = savedDC;
        if (dc) krvplat::DestroyImageDC(dc);
        ResetDemoState();
    }

    HDC savedDC = nullptr;
    HDC dc = nullptr;
};

TEST_P(DemoGolden, FrameAtAFixedLightAngle)
{
    const Config& c = std::get<0>(GetParam());
    _3D_Korvane_Rendering& r = krvRendering();
    r.renderMode = c.renderMode;
    r.antiAliasing = c.antiAliasing;
    TextureOnOff = c.textures;
    _3D_KRV_Wnd.WMSize(c.width, c.height);
    dc = krvplat::CreateImageDC(c.width, c.height);
    ASSERT_NE(dc, nullptr);
    _3D_KRV_Wnd.hdc = dc;
    _3D_KRV_Wnd.frameTime = c.seconds;
    if (c.raise != 0.0f) r.Camera.MoveView(0, -c.raise);

    DemoMoveCamera();
    DemoShadowPass();
    DemoScenePass();
    r.SwapBuffers(dc);

    ASSERT_NE(r.colorBuffer, nullptr);
    EXPECT_TRUE(MatchesGolden(c.name, r.colorBuffer, r.width, r.height, r.colorWidth));
}

// The program's start settings with the light turned 112.5 degrees, behind the car; the
// full-size path without supersampling or textures, lit from the camera's side; the car's glass
// seen from a little above, where its far half lies behind its near half along the top of the
// windscreen and through the side windows.
const Config kConfigs[] = {
    {"demo_speed_aa4", 200, 150, KrvRenderMode_Speed, KrvAA_2x2, 10.0f, true, 0.0f},
    {"demo_normal_untextured", 120, 90, KrvRenderMode_Normal, KrvAA_Off, 3.0f, false, 0.0f},
    {"demo_glass", 320, 240, KrvRenderMode_Normal, KrvAA_3x3, 0.0f, true, 30.0f}};

INSTANTIATE_TEST_SUITE_P(Scene, DemoGolden,
                         ::testing::Combine(::testing::ValuesIn(kConfigs),
                                            ::testing::ValuesIn(Executions())),
                         [](const ::testing::TestParamInfo<std::tuple<Config, Execution>>& named) {
                             return std::string(std::get<0>(named.param).name) + "_" +
                                    ExecutionName(std::get<1>(named.param));
                         });

}  // namespace
