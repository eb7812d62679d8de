// The integer codes of the interface, every one in this header. They stay plain ints in the
// calls (a program may pass the numbers); the names are for reading, and krv.h says what each
// call does with a value outside its set. The codes sit at the bottom of the layers because the
// core, textures and scene interpret them as much as the interface does.
#pragma once

// krvSwitch: one render switch each.
enum KrvSwitch_ {
    KrvSwitch_Interlace = 1,  // rasterize even rows only
    KrvSwitch_Texturing = 2,
    KrvSwitch_Lighting = 3,  // also gates krvAddLight and the light bind
    KrvSwitch_Material = 4,
    KrvSwitch_ShadowMapping = 5,  // gates the shadow pass and its bind, not the pipeline
    KrvSwitch_DepthTest = 6,
    KrvSwitch_CullFace = 7,
    KrvSwitch_BilinearFilter = 8,
    KrvSwitch_Fog = 9,  // krvSetFog stores its parameters only while this is on
    KrvSwitch_MultiTexture = 10,
    KrvSwitch_BumpMapping = 11,
    KrvSwitch_Dot3 = 12,
    KrvSwitch_Transparency = 13,  // screen-door until krvSetTransparency gives a value
    KrvSwitch_AlphaBlend = 14,
    KrvSwitch_DepthColorCompare = 15
};

// krvClear: what to clear in the current target (window buffers or a bound frame buffer).
enum KrvClear_ {
    KrvClear_Color = 1000,  // every colour byte 0
    KrvClear_Depth = 1001,  // every depth 65535 (far)
    KrvClear_Both = 2001
};

// krvSetVertexModel and krvDrawModel count primitives of these kinds.
enum KrvModel_ {
    KrvModel_Triangles = 96,  // 3 vertices a primitive
    KrvModel_Quads = 97       // 6 vertices a primitive: two triangles
};

// krvSetAlpha(KrvAlpha_Invert, on): the alpha term is s instead of 1 - s.
enum KrvAlpha_ { KrvAlpha_Invert = 112 };

// krvCullFace: which faces the set-up drops (by the winding on screen).
enum KrvCullMode_ {
    KrvCullMode_None = 0,
    KrvCullMode_Front = 16,
    KrvCullMode_Back = 17,  // the default
    KrvCullMode_All = 18
};

// krvSetFog: what the fog distance is measured along.
enum KrvFogMode_ {
    KrvFogMode_Height = 32,
    KrvFogMode_Depth = 33,
    KrvFogMode_Linear = 34,
    KrvFogMode_Exp = 35,
    KrvFogMode_Exp2 = 36
};

// krvSetAntiAliasing: supersampling 2, 3 or 4 times in each direction (64 the default).
enum KrvAntiAliasing_ { KrvAA_Off = 0, KrvAA_2x2 = 64, KrvAA_3x3 = 65, KrvAA_4x4 = 66 };

// krvSetRenderingMode: the internal image size and the blit (core/render_mode.h); 130 the
// default.
enum KrvRenderMode_ {
    KrvRenderMode_Normal = 128,  // StretchDIBits 1:1
    KrvRenderMode_Device = 129,  // SetDIBitsToDevice
    KrvRenderMode_Speed = 130,   // buffers 1/1.5 of the window, stretched
    KrvRenderMode_Boost = 131,   // 1/2, HALFTONE
    KrvRenderMode_Nearest = 132  // 1/2.75, HALFTONE
};

// getPixel: the colour target's pixel as its three bytes (weighted 1, 256, 65536), or one byte
// of the target read as 255 minus it.
enum KrvPixelRead_ { KrvPixelRead_Color = 48, KrvPixelRead_Byte = 50 };

// Matrix modes: what the transform calls of the interface change.
enum KrvMatrixMode_ {
    KrvMatrixMode_BufferModel = 81,     // positions of the buffer's selected range
    KrvMatrixMode_Object = 82,          // positions of the current object (and its box)
    KrvMatrixMode_BufferTexture = 161,  // texture coordinates of the selected range
    KrvMatrixMode_ObjectTexture = 162   // texture coordinates of the current object
};

// Pixel formats, the characters '0', '1', '2'.
enum KrvTextureFormat_ {
    KrvFormat_BGR = '0',     // 3 bytes a texel: blue, green, red
    KrvFormat_RGBA32 = '1',  // 4 bytes a texel; allocated only, never sampled
    KrvFormat_Depth16 = '2'  // one unsigned 16-bit value a texel (shadow-map depth); Pitch stays 0
};
