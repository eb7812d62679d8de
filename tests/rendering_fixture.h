// A fixture for tests of the one rendering context of the process: it saves the fields the
// rendering and interface tests change, starts each test with no vertex buffer, no current
// object and no shadow map of its own, and puts everything back afterwards (releasing what the
// test left in the context), so the tests run in any order in one process.
#pragma once

#include "api/krv.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

class RenderingFixture : public ::testing::Test {
protected:
    _3D_Korvane_Rendering& r = krvRendering();

    // A w x h window buffer without supersampling, bound and covered by the viewport.
    void UseTarget(int w, int h)
    {
        r.BindFrameBuffer(nullptr);
        r.antiAliasing = KrvAA_Off;
        r.renderMode = KrvRenderMode_Normal;
        r.ResizeBuffers(w, h);
        r.Viewport(0, 0, w, h);
    }

    // Remembers a field's value; TearDown writes it back.
    template <class T>
    void Keep(T& field)
    {
        T saved = field;
        restore_.push_back([&field, saved] { field = saved; });
    }
    template <class T, size_t N>
    void Keep(T (&field)[N])
    {
        std::array<T, N> saved;
        for (size_t i = 0; i < N; ++i) saved[i] = field[i];
        restore_.push_back([&field, saved] {
            for (size_t i = 0; i < N; ++i) field[i] = saved[i];
        });
    }

    void SetUp() override
    {
        savedWidth_ = r.width;
        savedHeight_ = r.height;
        savedAntiAliasing_ = r.antiAliasing;
        savedFrameBuffer_ = r.frameBuffer;

        // Core.
        Keep(r.viewportX);
        Keep(r.viewportY);
        Keep(r.viewportWidth);
        Keep(r.viewportHeight);
        Keep(r.modelViewProjection);
        Keep(r.shadowMapMatrix);
        Keep(r.light);
        Keep(r.cullFace);
        Keep(r.fogMode);
        Keep(r.texture0);
        Keep(r.texture1);
        Keep(r.texture2);
        Keep(r.shadowMap);
        Keep(r.bumpTexture);
        Keep(r.renderMode);
        Keep(r.bilinearFilter);
        Keep(r.depthTest);
        Keep(r.cullEnabled);
        Keep(r.sizeWidth);
        Keep(r.sizeHeight);
        // Switches and shading parameters.
        Keep(r.interlace);
        Keep(r.texturing);
        Keep(r.lighting);
        Keep(r.material);
        Keep(r.shadowMapping);
        Keep(r.fog);
        Keep(r.multiTexture);
        Keep(r.bumpMapping);
        Keep(r.dot3);
        Keep(r.transparency);
        Keep(r.alphaBlend);
        Keep(r.depthColorCompare);
        Keep(r.bindBaseTexture);
        Keep(r.FogSet);
        Keep(r.AlphaFlag);
        Keep(r.TransparencySet);
        Keep(r.AlphaValue);
        Keep(r.Transparency);
        Keep(r.BumpMapFactor);
        Keep(r.Material);
        Keep(r.FogParameters);
        // The context.
        Keep(r.Camera);
        Keep(r.FieldOfView);
        Keep(r.NearPlane);
        Keep(r.FarPlane);
        Keep(r.MatrixMode);
        Keep(r.Object);
        Keep(r.LentVertex);
        Keep(r.LentTexels);
        Keep(r.Buffer);
        Keep(r.BufferSize);
        Keep(r.BufferCursor);
        Keep(r.ModelBegin);
        Keep(r.ModelEnd);
        Keep(r.LightView);
        Keep(r.LightProjection);
        Keep(r.LightViewProjection);
        Keep(r.ShadowTexture);
        Keep(r.ShadowFrameBuffer);
        Keep(r.OrthoMatrix);
        Keep(r.ObjectOpen);
        Keep(r.ShadowPass);
        // The window.
        Keep(_3D_KRV_Wnd.width);
        Keep(_3D_KRV_Wnd.height);
        Keep(_3D_KRV_Wnd.hdc);
        Keep(_3D_KRV_Wnd.hwnd);

        r.Object = CObject();
        r.LentVertex = nullptr;
        r.LentTexels = nullptr;
        r.Buffer = nullptr;
        r.BufferSize = 0;
        r.BufferCursor = r.ModelBegin = r.ModelEnd = 0;
        r.ShadowTexture = CTexture();
        r.ShadowFrameBuffer = CFrameBuffer();
        r.ObjectOpen = false;
        _3D_KRV_Wnd.width = _3D_KRV_Wnd.height = 0;
        _3D_KRV_Wnd.hdc = nullptr;
    }

    void TearDown() override
    {
        r.ObjectOpen = false;
        r.BindFrameBuffer(nullptr);
        r.Destroy();
        r.antiAliasing = savedAntiAliasing_;
        r.ResizeBuffers(savedWidth_, savedHeight_);
        for (auto it = restore_.rbegin(); it != restore_.rend(); ++it) (*it)();
        r.BindFrameBuffer(savedFrameBuffer_);
    }

private:
    std::vector<std::function<void()>> restore_;
    int savedWidth_ = 0, savedHeight_ = 0, savedAntiAliasing_ = 0;
    CFrameBuffer* savedFrameBuffer_ = nullptr;
};
