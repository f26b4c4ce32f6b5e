// A Renderer on a recording device, in a scratch working directory with its own log.
#pragma once

#include "app/Log.h"
#include "render/Renderer.h"
#include "support/RecordingDevice.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace lumaret::test {

class RecordedRendererTest : public testing::Test {
protected:
    void SetUp() override {
        Log::Open();
        d3d = new RecordingDirect3D();
        renderer = std::make_unique<Renderer>();
        renderer->d3d = d3d;
    }

    // Runs Init with the engine's start-up values (or the given ones).
    void Init(RendererSettings settings = {true, true, 4, 1}, int flags = 7) {
        renderer->Init(reinterpret_cast<HWND>(1), DisplayModeDesc{640, 480, 0}, settings, flags);
        device = d3d->lastDevice;
        ASSERT_NE(device, nullptr);
        device->Forget();
    }

    // The log after the banner.
    std::string LogBody() { return ReadFileBytes("log.txt").substr(std::string(Log::Banner).size()); }

    ScopedTempDir dir;
    RecordingDirect3D* d3d = nullptr;
    RecordingDevice* device = nullptr;
    std::unique_ptr<Renderer> renderer;
};

}  // namespace lumaret::test
