// CCamera: the orbiting viewer. An orthonormal frame, an eye position and a reference point that
// the eye orbits and zooms towards; it owns the view and projection matrices and their product
// and rebuilds the view matrix and the product after every change.
#pragma once

#include "math/glmath.h"

class CCamera {
public:
    CCamera();
    ~CCamera() {}

    void SetOrtho(float left, float right, float bottom, float top, float n, float f);
    void SetPerspective(float fovy, float aspect, float n, float f);  // fovy in degrees
    void CalculateViewMatrix();
    void Look(const vec3& position, const vec3& reference, bool keepReference);
    void Move(const vec3& delta);
    void ZoomView(float delta);     // only the sign matters: > 0 closer, < 0 further
    void MoveView(int dx, int dy);  // orbit, 0.25 degree a pixel

    vec3 X, Y, Z;
    vec3 Position;
    vec3 Reference;
    mat4x4 ViewMatrix;
    mat4x4 ProjectionMatrix;  // the identity until SetOrtho or SetPerspective
    mat4x4 ViewProjectionMatrix;
};
