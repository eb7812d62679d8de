// _3D_Korvane_Core: the software rasterizer's state object and its triangle pipeline.
//
// One frame, file by file:
//   core.cpp        Clear, binds, BindFrameBuffer (targets), ResizeBuffers
//   submit.cpp      DrawTriangles: transform by modelViewProjection, vertex colour and fog
//   clip.cpp        ClipTriangle: six planes in homogeneous clip space
//   rasterize.cpp   krvi::SetUpTriangle: divide by w, cull, viewport, corners and rows;
//                   krvi::DrawSetupTriangle: the rows, one span routine call a row
//   draw_span.cpp   the scalar span routines and DrawSpan: coverage, depth test, attributes,
//                   shading (shade.h, texture/texture_sampler.h), depth write; span_simd.h
//                   the same in SSE2 and AVX2 lanes
//   antialias.cpp   SetAntiAliasingFilter: box filter of the supersampled buffer
//   present.cpp     SwapBuffers: the GDI blit by the render-mode table (render_mode.h);
//                   SetPixel and the debug lines
//
// The rendering context (_3D_Korvane_Rendering, scene/rendering.h) derives from this class and
// adds the camera, meshes and vertex buffer. The render switches and shading parameters that the
// pipeline reads are held here, so the core renders on its own; the rendering context and the
// public interface reach them under the same names.
#pragma once

#include "core/frustum.h"
#include "core/render_mode.h"
#include "core/vertex.h"
#include "math/glmath.h"
#include "platform/win32.h"
#include "texture/texture.h"

#include <cstdint>
#include <memory>

struct CEdge;
struct CSpan;
namespace krvi {
// The draws' work (bin.h). The pointer carries the release function NewDrawWork gives it, so
// the core's destructor releases the work without a declaration of bin.h's: this header cannot
// include bin.h, which reaches back to it through draw_state.h.
struct DrawWork;
using DrawWorkPtr = std::unique_ptr<DrawWork, void (*)(DrawWork*)>;
}  // namespace krvi

// The clip-space position of v: m (16 floats, column-major) times (v.x, v.y, v.z, 1) (submit.cpp).
vec4 krvModelViewProjection(const float* m, const CVertex* v);

class _3D_Korvane_Core {
public:
    _3D_Korvane_Core();
    ~_3D_Korvane_Core();
    _3D_Korvane_Core(const _3D_Korvane_Core&) = delete;
    _3D_Korvane_Core& operator=(const _3D_Korvane_Core&) = delete;

    // Buffers and targets (core.cpp).
    void ResizeBuffers(int w, int h);
    void Viewport(int x, int y, int w, int h);
    void Clear(bool color, bool depth);
    void BindFrameBuffer(CFrameBuffer* fb);
    vec3 getPixel(int x, int y, int which) const;
    unsigned short GetDepthBuffer() const { return lastDepth; }

    // Matrices and binds (core.cpp).
    void LoadModelViewProjectionMatrix(const mat4x4& m) { modelViewProjection = m; }
    mat4x4 GetModelViewProjectionMatrix() const { return modelViewProjection; }
    void LoadShadowMapMatrix(const mat4x4& m) { shadowMapMatrix = m; }
    void BindLight(CLight* l);
    void BindTexture(CTexture* t);
    void BindTexture1(CTexture* t);
    void BindTexture2(CTexture* t);
    void BindShadowMap(CTexture* t) { shadowMap = t; }
    void SetCullFace(int mode);
    int GetCullFace() const { return cullFace; }
    void SetFogMode(int mode);

    // Presentation (present.cpp). SwapBuffers consumes the device context.
    void SwapBuffers(HDC hdc);
    void SetPixel(int x, int y, float r, float g, float b);
    void SetLineBresenham(int x0, int y0, int x1, int y1, float r, float g, float b);
    void SetLineOptimized(int x0, int y0, int x1, int y1, float r, float g, float b);

    // Supersampling (antialias.cpp).
    void SetAntiAliasingFilter(int mode);
    vec3 AddAntiAliasingLine(int pos) const;
    void SetAntiAliasingLine(vec3 sum, int pos, int n);

    // The triangle pipeline.
    void DrawTriangles(CVertex* vertices, int first, int count);  // submit.cpp
    void DrawTriangles();
    void ClipTriangle(_3D_Korvane_Shader* v, int plane);  // clip.cpp
    void RasterizeTriangle(_3D_Korvane_Shader* v);        // rasterize.cpp
    void DrawSpansBetweenEdges(CEdge* longEdge, CEdge* shortEdge);
    void DrawSpan(CSpan* span, int y);      // draw_span.cpp
    bool FindOcclusionPoint(vec3 v) const;  // unproject.cpp

private:
    void RunDraw(const int viewport[4]);  // the triangle loop over the stored range

public:
    // ---- State -------------------------------------------------------------------------------
    int width = 0, height = 0;
    int viewportX = 0, viewportY = 0, viewportWidth = 0, viewportHeight = 0;
    uint8* aaColorBuffer = nullptr;
    int aaWidth = 0, aaHeight = 0;
    uint8* colorBuffer = nullptr;
    int colorWidth = 0, colorHeight = 0;
    BITMAPINFO bitmapInfo = {};
    unsigned short* depthBuffer = nullptr;
    int depthWidth = 0, depthHeight = 0;
    uint8* targetColor = nullptr;
    int targetColorWidth = 0, targetColorHeight = 0;
    unsigned short* targetDepth = nullptr;
    int targetDepthWidth = 0, targetDepthHeight = 0;
    unsigned short lastDepth = 0;
    int maxX = 0, maxY = 0;
    CFrameBuffer* frameBuffer = nullptr;
    mat4x4 modelViewProjection = mat4x4(1.0f);
    mat4x4 shadowMapMatrix = mat4x4(1.0f);
    CLight* light = nullptr;
    int cullFace = KrvCullMode_Back;
    int fogMode = 0;
    CTexture* texture0 = nullptr;
    CTexture* texture1 = nullptr;
    CTexture* texture2 = nullptr;
    CTexture* shadowMap = nullptr;
    CTexture* bumpTexture = nullptr;
    // Per-draw flags, fixed by DrawTriangles.
    bool useColor = false;
    bool useDepthWrite = false;
    bool ignoreDepth = true;
    bool useTexture = false;
    bool useLight = false;
    bool useShadowMap = false;
    bool useTexture1 = false;
    bool useTexture2 = false;
    bool useBump = false;
    CVertex* vertices = nullptr;
    int firstVertex = 0, endVertex = 0;
    // Per-draw: the attribute groups and span routine in use (kSpan* bits of core/rasterize.h).
    unsigned drawFeatures = 0;
    int renderMode = KrvRenderMode_Speed;
    int antiAliasing = KrvAA_2x2;
    bool bilinearFilter = true;
    bool depthTest = true;
    bool cullEnabled = true;
    _3D_Korvane_Frustum frustum;
    int sizeWidth = 0, sizeHeight = 0;
    int mouseX = 0, mouseY = 0;
    int clickX = 0, clickY = 0;

    // Triangles handed to the pipeline since the core was made, culled and clipped ones
    // included (the frame benchmark reports them a frame at a time).
    uint64_t submittedTriangles = 0;

    // What the draws keep between them: the prepared state and the threads' set-up lists
    // (submit.cpp). Created by the first draw, released with the core.
    krvi::DrawWorkPtr drawWork{nullptr, nullptr};

    // The device context that SetPixel and the debug lines draw on (the window's own DC; set
    // by the window when it is created; null draws nothing).
    HDC windowDC = nullptr;

    // ---- Render switches and shading parameters (krvSwitch codes in brackets) ----------------
    bool interlace = false;          // (1) even rows only
    bool texturing = false;          // (2)
    bool lighting = false;           // (3)
    bool material = false;           // (4)
    bool shadowMapping = true;       // (5) read by the shadow pass, not by the pipeline
    bool fog = false;                // (9)
    bool multiTexture = false;       // (10)
    bool bumpMapping = false;        // (11)
    bool dot3 = false;               // (12)
    bool transparency = false;       // (13)
    bool alphaBlend = false;         // (14)
    bool depthColorCompare = false;  // (15)
    bool bindBaseTexture = true;
    bool FogSet = false;
    bool AlphaFlag = false;
    bool TransparencySet = false;
    float AlphaValue = 1.0f;
    float Transparency = 0.0f;
    float BumpMapFactor = 0.0f;
    CMaterial Material;
    float FogParameters[7] = {};  // colour r, g, b, density, offset, start, end
};
