#include "scene/camera.h"

static const float kZoomStep = 0.1f;        // a tenth of the distance per wheel event
static const float kZoomNearest = 0.05f;    // no zooming in below this distance
static const float kZoomFarthest = 500.0f;  // no zooming out beyond this distance
static const float kOrbitDegreesPerPixel = 0.25f;
static const float kEyeReferenceGap = 0.05f;  // Look without keepReference

// The projection is the identity until a lens is set, so the product is defined from the start
// even though nothing reads it before the first resize sets a perspective.
CCamera::CCamera()
    : X(1.0f, 0.0f, 0.0f),
      Y(0.0f, 1.0f, 0.0f),
      Z(0.0f, 0.0f, 1.0f),
      Position(0.0f, 0.0f, 5.0f),
      Reference(0.0f, 0.0f, 0.0f),
      ProjectionMatrix(1.0f)
{
    CalculateViewMatrix();
}

void CCamera::SetOrtho(float left, float right, float bottom, float top, float n, float f)
{
    ProjectionMatrix = ortho(left, right, bottom, top, n, f);
    ViewProjectionMatrix = ProjectionMatrix * ViewMatrix;
}

void CCamera::SetPerspective(float fovy, float aspect, float n, float f)
{
    ProjectionMatrix = perspective(fovy, aspect, n, f);
    ViewProjectionMatrix = ProjectionMatrix * ViewMatrix;
}

void CCamera::CalculateViewMatrix()
{
    const vec3& P = Position;
    ViewMatrix = mat4x4(X.x, Y.x, Z.x, 0.0f, X.y, Y.y, Z.y, 0.0f, X.z, Y.z, Z.z, 0.0f, -dot(X, P),
                        -dot(Y, P), -dot(Z, P), 1.0f);
    ViewProjectionMatrix = ProjectionMatrix * ViewMatrix;
}

// X and Y come from GetXY as they are: unit only when Z.y is 0 or +-1.
void CCamera::Look(const vec3& position, const vec3& reference, bool keepReference)
{
    Position = position;
    Reference = reference;
    Z = normalize(position - reference);
    GetXY(Z, X, Y);
    // Without a kept reference the orbit centre sits just in front of the eye, so orbiting
    // turns the camera about its own eye point.
    if (!keepReference) Reference = Position - Z * kEyeReferenceGap;
    CalculateViewMatrix();
}

void CCamera::Move(const vec3& delta)
{
    Position += delta;
    Reference += delta;
    CalculateViewMatrix();
}

// Position is only rewritten when a step is taken: Reference + (Position - Reference) need not
// give back Position to the bit, and a refused step must change nothing.
void CCamera::ZoomView(float delta)
{
    vec3 d = Position - Reference;
    float distance = length(d);
    if (delta < 0.0f && distance < kZoomFarthest) {
        d = d + d * kZoomStep;
    } else if (delta > 0.0f && distance > kZoomNearest) {
        d = d - d * kZoomStep;
    } else {
        return;
    }
    Position = Reference + d;
    CalculateViewMatrix();
}

void CCamera::MoveView(int dx, int dy)
{
    float r = length(Position - Reference);

    if (dx != 0) {
        const vec3 up(0.0f, 1.0f, 0.0f);
        float alpha = kOrbitDegreesPerPixel * static_cast<float>(dx);
        X = rotate(X, alpha, up);
        Y = rotate(Y, alpha, up);
        Z = rotate(Z, alpha, up);
    }

    if (dy != 0) {
        float beta = kOrbitDegreesPerPixel * static_cast<float>(dy);
        Y = rotate(Y, beta, X);
        Z = rotate(Z, beta, X);
        // Pitched past the vertical: look straight down or up instead of turning over.
        if (Y.y < 0.0f) {
            Z = vec3(0.0f, Z.y > 0.0f ? 1.0f : -1.0f, 0.0f);
            Y = cross(Z, X);
        }
    }

    Position = Reference + Z * r;
    CalculateViewMatrix();
}
