#pragma once

#include <cstdint>
#include <memory>

// A captured BGRA picture. The capture backend owns the memory (a pool of shared buffers); holders keep
// it alive through the shared pointer and give it back by dropping it, so frames travel to the encoder
// without a copy.
struct PixelBuffer {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
};

using PixelBufferRef = std::shared_ptr<const PixelBuffer>;
