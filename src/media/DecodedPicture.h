#pragma once
// One decoded picture of the host's screen, as the helper's decoder left it: 4:2:0 in
// three planes, 8-bit or 10-bit (10 bits in the low bits of 16), with how its colours are
// coded, and a hold on the decoder's memory for as long as the picture is kept. The
// renderer converts it to RGB; it names nothing of WebRTC (DecodedPictureSink makes it
// from WebRTC's frames).

#include <cstdint>
#include <memory>

namespace wl {

struct DecodedPicture {
    enum class Depth { eight, ten };
    // The matrix from Y'CbCr to R'G'B'.
    enum class Matrix { bt709, smpte170m, bt2020 };

    int width = 0;
    int height = 0;
    Depth depth = Depth::eight;
    // Y, U, V; strides in bytes. No planes: the decoder's picture can't be read as 4:2:0.
    const uint8_t* planes[3] = {};
    int strides[3] = {};
    Matrix matrix = Matrix::bt709;
    bool fullRange = true;
    // Keeps the planes' memory.
    std::shared_ptr<const void> memory;

    bool readable() const { return planes[0] && planes[1] && planes[2] && width > 0 && height > 0; }
};

} // namespace wl
