#pragma once

#include <cstdint>
#include <memory>

// Byte order of a 32-bit pixel in memory; the fourth byte is alpha or padding and is never read.
enum class PixelOrder { BGRA, RGBA };

// A captured 32-bit picture. The capture backend owns the memory (a pool of shared buffers); holders keep
// it alive through the shared pointer and give it back by dropping it, so frames travel to the encoder
// without a copy.
struct PixelBuffer {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    PixelOrder order = PixelOrder::BGRA;
};

using PixelBufferRef = std::shared_ptr<const PixelBuffer>;
