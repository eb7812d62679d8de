// The public interface of the renderer: the one header a program includes.
//
// Every krv function acts on the one rendering context of the process (krvRendering(), the
// window object's); no handles are passed. Misuse is quiet: a code outside a function's
// accepted set, an index outside the array it targets or a missing texture makes the call (or
// the part of it that is out of bounds) do nothing.
//
// A program's life: krvCreateWindow with an init callback that loads meshes and textures and
// fills the vertex buffer; krvRedrawWindow runs the frames (the render callback draws with the
// calls below); krvDestroyWindow releases the context's storage. Without a window:
// krvCreateOffscreen, the same drawing calls, then krvReadPixels or krvSavePixelsPNG, and
// krvDestroyOffscreen (see "Without a window" below); such a program needs no display library.
//
// Integer codes keep their numeric values in the interface; their names, all of them, are in
// base/codes.h.
#pragma once

#include "base/codes.h"
#include "base/report.h"
#include "core/core.h"
#include "math/glmath.h"
#include "scene/model.h"
#include "scene/rendering.h"
#include "texture/texture.h"
#include "texture/texture_generate.h"
#include "window/window.h"

#include <cstddef>

// ---------------------------------------------------------------------------------------------
// Geometry: the vertex buffer, the current object and the transforms (api/krv_geometry.cpp).
//
// There is no matrix stack: a transform changes the stored vertices at once and for good, and
// drawing submits them through the current modelViewProjection (krvLoadMatrix).

// Replaces the vertex buffer by n zero-filled vertices (releasing the old one); n <= 0 leaves
// no buffer. The write cursor keeps its value.
void krvSetVertex(int n);

// Attribute calls write the vertex under the cursor: the buffer's, or while an object is being
// recorded (CObject::ObjectBegin .. ObjectEnd) the current object's. A cursor outside that
// array writes nothing. krvCount moves the cursor on; calling an attribute twice without it
// overwrites the same vertex.
void krvVertex3f(float x, float y, float z);
void krvVertex3fv(const vec3& v);
void krvColor3f(float r, float g, float b);
void krvColor3fv(const vec3& c);
void krvTexture2f(float u, float v);
void krvTexture2fv(const vec2& t);
void krvNormal3f(float x, float y, float z);
void krvNormal3fv(const vec3& n);
void krvCount();
// Colour of vertices first .. end - 1 of the same target; the part outside the array is skipped.
void krvGlobalColor3f(int first, int end, float r, float g, float b);
void krvGlobalColor3fv(int first, int end, const vec3& c);

// What the transforms act on: KrvMatrixMode_BufferModel (81), _Object (82), _BufferTexture
// (161), _ObjectTexture (162); other values are ignored.
void krvMatrixMode(int mode);
// Selects buffer primitives first .. end - 1 of a kind (96 or 97; others ignored) for modes 81
// and 161: krvSetVertexModel(96, 2, 5) selects vertices 6 .. 14.
void krvSetVertexModel(int kind, int first, int end);

// Modes 81 and 82 move positions (82 also the object's box), 161 and 162 texture coordinates
// (x and y act on u and v; z is not used). Model angles are degrees, texture angles radians.
void krvTranslate3f(float x, float y, float z);
void krvTranslate3fv(const vec3& v);
void krvRotate3f(float angle, float x, float y, float z);
void krvRotate3fv(float angle, const vec3& axis);
void krvScale3f(float x, float y, float z);
void krvScale3fv(vec3 s);

// The matrix every drawn vertex goes through.
void krvLoadMatrix(const mat4x4& m);
// Triangles vertices[first .. first + count - 1] of the caller's array.
void krvDrawArray(CVertex* vertices, int first, int count);
// Primitives first .. first + count - 1 of the buffer, of kind 96 or 97; only the whole
// triangles inside the buffer are drawn.
void krvDrawModel(int kind, int first, int count);

// Makes a copy of o the current object. The copy shares o's arrays: object-mode transforms
// change o's vertices too, but only the current object's box. o stays their owner.
void krvSetObject(CObject o);
vec3 krvGetObjectMin();
vec3 krvGetObjectMax();

void krvCullFace(int mode);           // 0, 16, 17 or 18; others ignored
void krvSetAlpha(int what, bool on);  // only KrvAlpha_Invert
void krvSetAlpha(float alpha);        // the alpha value of the blends
void krvSetTransparency(float t);     // blended transparency with this value
void krvSetTransparecy(float t);      // the same, under the name programs first used

// Billboards built and drawn at once with the current state (scene/primitives.cpp).
// A square of half size s centred on p, facing the screen; tu, tv repeat the texture.
void krvBillboard(vec3 p, float s, float tu, float tv);
// An upright w x 2hh rectangle standing on p, turned about the vertical towards the camera.
void krvBillboardy(vec3 p, float w, float hh, float tu, float tv);

// ---------------------------------------------------------------------------------------------
// State, view and lighting (api/krv_state.cpp).

// Blit mode 128..132; the buffers follow at the next resize (krvGetChangeResolution).
void krvSetRenderingMode(int mode);
int krvGetAntiAliasing();
// 0, 64, 65 or 66; a new value reallocates the buffers at once, other values are ignored.
void krvSetAntiAliasing(int mode);
bool krvGetBilinearFilter();
bool krvGetDepthTest();
void krvSwitch(int code, bool on);  // KrvSwitch_ codes; 13 also forgets krvSetTransparency

void krvClear(int what);                    // KrvClear_ codes; others ignored
void krvBindFrameBuffer(CFrameBuffer* fb);  // null draws into the window's buffers again

// The viewport in window pixels; it is stored scaled to the internal image of the render mode
// (so 800 x 600 in mode 130 stores 533 x 400). Other modes store it unchanged.
void krvViewport(int x, int y, int w, int h);
// The window's client size, which krvViewport then scales; before a window exists, the internal
// image size scaled back up.
int krvViewWidth();
int krvViewHeight();
// OrthoMatrix = ortho(-2, 2, -q, q, near, far) with q = 2a / b in integer division (b = 0:
// ignored).
void krvSetView2D(int a, int b, float zNear, float zFar);
// The lens of the next resize.
void krvSetView3D(float fieldOfView, float zNear, float zFar);
// Set the camera's projection now, with the viewport reset to the whole view.
void krvOrtho(float left, float right, float bottom, float top, float zNear, float zFar);
void krvPerspective(float fieldOfView, float aspect, float zNear, float zFar);

mat4x4 krvGetViewMatrix();
mat4x4 krvGetProjectionMatrix();
mat4x4 krvGetViewProjectionMatrix();
mat4x4 krvGetModelViewProjectionMatrix();
mat4x4 krvGetOrthoMatrix();
// The eye position encoded in modelViewProjection (exact for a rotation plus a translation).
void krvGetViewPort(vec3& out);
void krvCameraMove(int dx, int dy);  // orbit
void krvCameraZoom(int delta);       // only the sign matters

// A light with attenuation 1, 0, 0; the three trailing floats are not used.
CLight krvSetLight(vec3 position, vec3 ambient, vec3 diffuse, vec3 specular, float, float, float);
void krvTranslateLight3fv(CLight* l, const vec3& p);  // sets the position (not a move)
void krvTranslateLight3f(CLight* l, float x, float y, float z);
void krvRotateLight3fv(CLight* l, float angle, const vec3& axis);  // degrees
void krvRotateLight3f(CLight* l, float angle, float x, float y, float z);
// Binds the light by address while lighting is on: it must outlive its use.
void krvAddLight(CLight* l);
void krvResetLight();  // unbinds the shadow map, and the light while lighting is on
void krvSetMaterial(vec3 ambient, vec3 diffuse, vec3 specular, float emission);
// Only while the fog switch is on: stores the parameters and the mode (32..36; others keep
// the previous mode).
void krvSetFog(int mode, vec3 color, float start, float end, float density, float offset);

// ---------------------------------------------------------------------------------------------
// Threads and SIMD lanes (api/krv_state.cpp). Process-wide; neither changes a byte of a frame,
// only how fast it comes.

// Threads in all that draws, the supersampling filter, clearing and presentation share, the
// caller included: n >= 1 sets the count (1: no extra thread, everything on the caller); n <= 0
// goes back to one a hardware thread, the default unless KRV_THREADS gave a count. Waits for a
// draw in progress on another thread to end first.
void krvSetThreads(int n);
int krvGetThreads();
// Lanes of the pixel loop: 0 the widest the processor has (the default unless KRV_SIMD says
// otherwise: 1 or off, 4 or sse2, 8 or avx2, 16 or avx512), 1 the scalar loop, 4, 8 or 16 at
// most that many; other values are ignored. The next draw takes it up.
void krvSetSimdWidth(int lanes);
// The lanes in use: 1, 4, 8 or 16 (never more than the processor has).
int krvGetSimdWidth();

// ---------------------------------------------------------------------------------------------
// Textures (api/krv_texture.cpp; factories and generators in texture/texture_generate.h).

// Binds keep the address: a texture must stay alive while bound.
// texture0 (and bumpTexture while bump mapping is on).
void krvBindTexture(CTexture* t);
// Unit 0 as krvBindTexture; units 1 and 2 only while multitexturing is on; others ignored.
void krvBindMultiTexture(int unit, CTexture* t);
void krvSetBumpMapTexture(float factor);

// A format '0' texture for krvBindTextureCamera; contents not cleared.
CTexture krvGenTextureCamera(int width, int height);
// Renders draw() into texture through the context's frame buffer, then draws into the window's
// buffers again with the whole-image viewport. The texture is detached afterwards. After
// krvGenTextureShadowProjection it must have the shadow texture's size or nothing is drawn.
void krvBindTextureCamera(int width, int height, CTexture* texture, void (*draw)());
// The shadow target: a width x height depth texture and the light's projection.
void krvGenTextureShadowProjection(int width, int height);
// The shadow pass: draw() renders the casters from the light (looking at the origin).
void krvRenderTextureShadowProjection(CLight light, void (*draw)());
// Hands the shadow map to the pixel shader (only while shadow mapping is on).
void krvBindTextureShadowProjection();

// ---------------------------------------------------------------------------------------------
// Messages and text (api/krv_text.cpp). Texts given without arguments are taken verbatim.

int krvAddMsg(const char* caption, const char* text);
int krvAddMsg(const char* caption, const char* text, unsigned long type);
// Sets the error report's caption and appends a line (formatted with argument in the second
// form).
void krvSetMsgError(const char* caption, const char* text);
void krvSetMsgError(const char* caption, const char* format, const char* argument);
// Shows the error report under its caption; the report is kept.
int krvAddMsgError();

// The title line.
void krvSetText(const char* text);
CString krvGetText();
void krvAddToText(const char* text);
void krvAddToText(const char* format, int a);
void krvAddToText(const char* format, int a, int b);
void krvAddToText(const char* format, int a, int b, int c);
void krvSetWndText(HWND hwnd);

// Text straight onto the window (not into the colour buffer): the next presentation paints
// over it. Colour components use their low 8 bits.
void krvDrawText(int x, int y, int r, int g, int b, const char* text);
// Descriptive strings 1..6; others give an empty string.
CString krvGetStrInfo(int which);

// ---------------------------------------------------------------------------------------------
// Without a window (api/krv_offscreen.cpp).
//
// The context's own buffers stand in for a window's: the picture is the image a window would
// show in the NORMAL render mode, with the same bytes. Anti-aliasing stays as set (2x2 unless
// krvSetAntiAliasing says otherwise); reading filters the supersampled buffer down first.

// Gives the context width x height buffers (1 to 16384 a side), a viewport over them and the
// camera's perspective for that aspect, and sets the NORMAL render mode, so the picture is
// exactly that size. False, with a line in the error report, for a size outside the limits,
// memory that cannot be had, or while a window is open (its buffers follow the window). On a
// context that already has an offscreen image it acts as krvResizeOffscreen.
bool krvCreateOffscreen(int width, int height);
// New buffers of another size (contents undefined until the next clear) after
// krvCreateOffscreen; false, with a report line, as krvCreateOffscreen or without one.
bool krvResizeOffscreen(int width, int height);
// Releases the buffers and what krvDestroyWindow releases (current object, vertex buffer,
// shadow texture), and puts the vertex buffer's write cursor back at its start. Textures and
// objects the program owns stay its own.
void krvDestroyOffscreen();
// The picture's size in pixels: the offscreen image's, or with a window the internal image of
// its render mode (smaller than the window in SPEED, BOOST and NEAREST); 0 without buffers.
int krvGetImageWidth();
int krvGetImageHeight();
// Copies the picture into rgb, 3 bytes a pixel (red, green, blue), rows top first and
// width * 3 bytes apart. bytes is rgb's size: at least width * height * 3, or nothing is
// written and the call returns false with a report line, as it does without buffers.
bool krvReadPixels(unsigned char* rgb, size_t bytes);
// Saves the picture as a PNG file; false, with a report line, when it cannot be written.
bool krvSavePixelsPNG(const char* path);

// Reads the depth buffer back: the window depth 0..1 of each pixel (1 where nothing was drawn),
// rows top first, at the picture's size. With supersampling a pixel takes the nearest of its
// samples. count is depth's size in floats: at least width * height, or nothing is written and
// the call returns false with a report line, as it does without buffers.
bool krvReadDepth(float* depth, size_t count);

// ---------------------------------------------------------------------------------------------
// Models from files (api/krv_model.cpp; the record is scene/model.h, included above).

// Loads any format the importer reads (OBJ, glTF 2.0, GLB, PLY, STL, FBX, Collada, ...), with
// its textures. path is used as given (not relative to the program's directory). False with one
// line in the error report, the model left empty; a part whose texture fails still loads, with
// a "warning: " line in the report. A model must be released with krvDestroyModel.
bool krvLoadModel(CModel* model, const char* path);
// Draws every part with the current matrices, light and shadow state: its texture bound (with
// texturing on) and its colour, opaque parts first, then the transparent ones blended by their
// opacity. Leaves the texture unbound, transparency off.
void krvDrawModelParts(const CModel* model);
// Releases the parts' arrays and textures and empties the record.
void krvDestroyModel(CModel* model);

// How krvRenderModelView frames and lights a model. The model is first moved into its unit
// frame: its box centred on the origin and scaled so that the box fits a sphere of radius 1;
// the camera, light and floor are placed in that frame.
struct CModelView {
    // The camera: around the origin at yaw (about the vertical, 0 looking from +z, positive to
    // the right) and pitch (-89 to 89) degrees, distance away (0: the distance that fits the
    // unit sphere in the picture) ...
    float yaw = 30.0f;
    float pitch = 20.0f;
    float distance = 0.0f;
    // ... or, with lookAt, at eye looking at target with up.
    bool lookAt = false;
    vec3 eye = vec3(0.0f, 0.0f, 3.0f);
    vec3 target = vec3(0.0f, 0.0f, 0.0f);
    vec3 up = vec3(0.0f, 1.0f, 0.0f);
    float fieldOfView = 45.0f;  // vertical, degrees (1 to 170)
    // One light at this position; with shadows it must lie 3.85 to 7.5 from the centre.
    vec3 light = vec3(-1.6f, 3.6f, 2.2f);
    bool lighting = true;
    bool shadows = true;
    bool floor = true;                         // a light grey 6 x 6 square under the model
    vec3 background = vec3(0.0f, 0.0f, 0.0f);  // red, green, blue in 0..1
};

// Renders the colour picture of the model seen through view into the context's picture
// (krvCreateOffscreen first), for krvReadPixels or krvSavePixelsPNG. False with a report line
// without buffers or for a view that cannot be set up (a bad field of view, an eye on the
// target, a light outside the shadow range).
bool krvRenderModelView(const CModel* model, const CModelView* view);
// The exact passes, each drawn without supersampling (switched off for the pass and back on),
// lighting, texture, blending or fog, then read back at the picture's size, rows top first;
// count is the buffer's size in elements (width * height at least, three bytes a pixel for
// the normals), as krvReadPixels checks it.
//   depth: distance along the view axis in the unit frame, +infinity where nothing was drawn;
//   normals: view-space normal n as colour (n + 1) / 2 * 255, (0, 0, 0) for the background;
//   ids: the part index + 1 of each pixel, 0 for the background (and the floor).
bool krvRenderModelDepth(const CModel* model, const CModelView* view, float* depth, size_t count);
bool krvRenderModelNormals(const CModel* model, const CModelView* view, unsigned char* rgb,
                           size_t bytes);
bool krvRenderModelIds(const CModel* model, const CModelView* view, unsigned short* ids,
                       size_t count);

// The error report (base/report.h, included above): every loader and the calls above append a
// line to it on a failure. krvGetErrorReport() gives its text ("" when empty),
// krvClearErrorReport() empties it, and krvSetErrorEcho(false) stops each new line from being
// written to stderr as it arrives (on by default).

// ---------------------------------------------------------------------------------------------
// Window, frame loop and input: krvCreateWindow, krvRedrawWindow, krvDestroyWindow,
// krvWindowProcedure, krvChangeResolution, krvGetChangeResolution, the button, wheel and move
// helpers, krvFastKey, krvGetHz and krvProcNull are declared with the window in
// window/window.h, included above.
