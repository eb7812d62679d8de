#include "scene/camera.h"
#include "scene/rendering.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The invariant every operation keeps: the view matrix takes the eye to the origin, and the
// product follows the view matrix.
void ExpectConsistent(const CCamera& cam)
{
    vec4 eye = cam.ViewMatrix * vec4(cam.Position, 1.0f);
    ExpectVecNear(vec3(eye.x, eye.y, eye.z), vec3(0.0f), 1e-4f);
    ExpectMatEq(cam.ViewProjectionMatrix, cam.ProjectionMatrix * cam.ViewMatrix);
}

const float kDeg = 3.1415927f / 180.0f;

}  // namespace

TEST(CameraState, NewCameraAndLenses)
{
    CCamera cam;
    ExpectMatEq(cam.ViewMatrix, translate(0.0f, 0.0f, -5.0f));
    ExpectMatEq(cam.ProjectionMatrix, mat4x4(1.0f));
    ExpectMatEq(cam.ViewProjectionMatrix, cam.ViewMatrix);
    cam.SetPerspective(45.0f, 4.0f / 3.0f, 0.125f, 100.0f);
    ExpectMatEq(cam.ProjectionMatrix, perspective(45.0f, 4.0f / 3.0f, 0.125f, 100.0f));
    ExpectConsistent(cam);
    cam.SetOrtho(-1.0f, 1.0f, -1.0f, 1.0f, 0.5f, 10.0f);
    ExpectConsistent(cam);
}

// ---------------------------------------------------------------------------------------------

TEST(CameraZoom, OneStep)
{
    struct {
        float delta, z;
    } cases[] = {{1.0f, 4.5f}, {-1.0f, 5.5f}, {0.0f, 5.0f}, {120.0f, 4.5f}, {-0.001f, 5.5f}};
    for (const auto& c : cases) {
        CCamera cam;
        cam.ZoomView(c.delta);
        EXPECT_FLOAT_EQ(cam.Position.z, c.z) << "delta " << c.delta;
        EXPECT_EQ(cam.Position.x, 0.0f);
        ExpectConsistent(cam);
    }
}

TEST(CameraZoom, StopsAtTheLimits)
{
    CCamera cam;
    for (int i = 0; i < 200; ++i) cam.ZoomView(1.0f);
    float d = length(cam.Position - cam.Reference);
    EXPECT_LE(d, 0.05f);
    EXPECT_GT(d, 0.04f);
    vec3 stopped = cam.Position;
    cam.ZoomView(1.0f);
    ExpectVecEq(cam.Position, stopped);

    // A step that starts inside the limit still runs its full 10 %.
    cam.Look(vec3(0.0f, 0.0f, 499.0f), vec3(0.0f), true);
    cam.ZoomView(-1.0f);
    EXPECT_NEAR(cam.Position.z, 548.9f, 1e-3f);
    cam.ZoomView(-1.0f);
    EXPECT_NEAR(cam.Position.z, 548.9f, 1e-3f);
}

// A refused or zero zoom leaves the eye exactly where it was even off a non-zero reference.
TEST(CameraZoom, NoStepChangesNothing)
{
    CCamera cam;
    cam.Look(vec3(0.3f, 0.7f, 0.1f), vec3(0.1f, 0.2f, 0.35f), true);
    vec3 before = cam.Position;
    cam.ZoomView(0.0f);
    ExpectVecEq(cam.Position, before);
}

// ---------------------------------------------------------------------------------------------

TEST(CameraOrbit, YawOneDegree)
{
    CCamera cam;
    cam.MoveView(4, 0);
    float c = std::cos(kDeg), s = std::sin(kDeg);
    ExpectVecNear(cam.X, vec3(c, 0.0f, -s), 1e-6f);
    ExpectVecNear(cam.Y, vec3(0.0f, 1.0f, 0.0f), 1e-6f);
    ExpectVecNear(cam.Z, vec3(s, 0.0f, c), 1e-6f);
    EXPECT_NEAR(length(cam.Position - cam.Reference), 5.0f, 1e-5f);
    ExpectVecNear(cam.Position, cam.Z * 5.0f, 1e-6f);
    ExpectConsistent(cam);
}

TEST(CameraOrbit, OrbitsAroundTheReference)
{
    CCamera cam;
    cam.Look(vec3(2.0f, 0.0f, 6.0f), vec3(2.0f, 0.0f, 1.0f), true);
    for (int i = 0; i < 10; ++i) cam.MoveView(7, -3);
    EXPECT_NEAR(length(cam.Position - cam.Reference), 5.0f, 1e-4f);
    ExpectVecEq(cam.Reference, vec3(2.0f, 0.0f, 1.0f));
    // The reference stays straight ahead of the eye.
    vec4 ref = cam.ViewMatrix * vec4(cam.Reference, 1.0f);
    ExpectVecNear(vec3(ref.x, ref.y, ref.z), vec3(0.0f, 0.0f, -5.0f), 1e-4f);
    ExpectConsistent(cam);
}

// Pitching keeps Y.y >= 0; the step that would turn the camera over snaps it to the pole.
TEST(CameraOrbit, PitchSnapsAtTheVertical)
{
    struct {
        int dy;
        float poleY;
    } cases[] = {{40, -1.0f}, {-40, 1.0f}};
    for (const auto& c : cases) {
        CCamera cam;
        int steps = 0;
        while (steps < 20 && std::fabs(cam.Z.y) != 1.0f) {
            EXPECT_GE(cam.Y.y, 0.0f);
            cam.MoveView(0, c.dy);
            ++steps;
        }
        EXPECT_LE(steps, 10) << "dy " << c.dy;
        ExpectVecEq(cam.Z, vec3(0.0f, c.poleY, 0.0f));
        ExpectVecEq(cam.X, vec3(1.0f, 0.0f, 0.0f));
        ExpectVecEq(cam.Y, cross(cam.Z, cam.X));
        ExpectVecNear(cam.Position, vec3(0.0f, 5.0f * c.poleY, 0.0f), 1e-5f);
        ExpectConsistent(cam);
    }
}

TEST(CameraOrbit, MovePans)
{
    CCamera cam;
    cam.Move(vec3(1.0f, 0.0f, 0.0f));
    ExpectVecEq(cam.Position, vec3(1.0f, 0.0f, 5.0f));
    ExpectVecEq(cam.Reference, vec3(1.0f, 0.0f, 0.0f));
    ExpectVecEq(cam.Z, vec3(0.0f, 0.0f, 1.0f));
    ExpectMatEq(cam.ViewMatrix, translate(-1.0f, 0.0f, -5.0f));
}

// ---------------------------------------------------------------------------------------------

TEST(CameraLook, KeepReferenceOrNot)
{
    for (bool keep : {false, true}) {
        CCamera cam;
        cam.Look(vec3(3.0f, 0.0f, 4.0f), vec3(0.0f), keep);
        ExpectVecEq(cam.Position, vec3(3.0f, 0.0f, 4.0f));
        ExpectVecNear(cam.Z, vec3(0.6f, 0.0f, 0.8f), 1e-6f);
        ExpectVecNear(cam.X, vec3(0.8f, 0.0f, -0.6f), 1e-6f);
        ExpectVecEq(cam.Y, vec3(0.0f, 1.0f, 0.0f));
        float gap = length(cam.Position - cam.Reference);
        if (keep) {
            ExpectVecEq(cam.Reference, vec3(0.0f));
        } else {
            EXPECT_NEAR(gap, 0.05f, 1e-6f);
            ExpectVecNear(cam.Reference, cam.Position - cam.Z * 0.05f, 1e-6f);
        }
        ExpectConsistent(cam);
    }
}

TEST(CameraLook, StraightDown)
{
    CCamera cam;
    cam.Look(vec3(0.0f, 10.0f, 0.0f), vec3(0.0f), true);
    ExpectVecEq(cam.Z, vec3(0.0f, 1.0f, 0.0f));
    ExpectVecEq(cam.X, vec3(1.0f, 0.0f, 0.0f));
    ExpectVecEq(cam.Y, vec3(0.0f, 0.0f, -1.0f));
    vec4 ref = cam.ViewMatrix * vec4(0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(ref.z, -10.0f);
}

// ---------------------------------------------------------------------------------------------

// The mouse handlers drive the rendering context's camera; no button is held in a test process.
TEST(CameraMouse, HandlersActOnTheSystemCamera)
{
    CCamera& cam = krvRendering().Camera;
    CCamera saved = cam;
    cam = CCamera();

    MouseWheel(120);
    EXPECT_FLOAT_EQ(cam.Position.z, 4.5f);
    MouseWheel(-120);
    EXPECT_FLOAT_EQ(cam.Position.z, 4.95f);

    vec3 before = cam.Position;
    MouseMove(40, 40);
    ExpectVecEq(cam.Position, before);
    ExpectVecEq(cam.Z, vec3(0.0f, 0.0f, 1.0f));

    cam = saved;
}
