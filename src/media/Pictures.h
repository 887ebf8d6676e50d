#pragma once
// Pictures of help requests: reading an image that comes from a file, a drop, the
// clipboard or another machine without letting it take unbounded memory, and the JPEG
// a request carries. Reading refuses, with a text for the user, what is too big as a
// file, too large as a picture, or not a picture at all; it never decodes more than
// kMaxPixels. Any thread.

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <optional>
#include <string>

namespace wl {

struct PictureRead {
    QImage image; // null when refused
    std::string problem; // why it was refused, for the user; empty when read
    bool ok() const { return !image.isNull(); }
};

class Pictures {
public:
    static constexpr std::int64_t kMaxFileBytes = 20 * 1024 * 1024;
    static constexpr int kMaxSide = 16384;
    static constexpr std::int64_t kMaxPixels = 50'000'000;
    // Qt's ceiling for one decoded image, in MiB (the decoders check it too).
    static constexpr int kAllocationLimitMiB = 256;
    // The widest picture a request carries, and its JPEG quality (of 100).
    static constexpr int kRequestWidth = 2560;
    static constexpr int kJpegQuality = 80;

    // shownName names the picture in the problem text.
    static PictureRead readFile(const std::string& path, const std::string& shownName);
    static PictureRead readData(const QByteArray& bytes, const std::string& shownName);

    // The JPEG of the image at most maxWidth pixels wide (never enlarged; the height
    // follows, cut to a whole pixel), without transparency (it is laid on white);
    // nullopt when it can't be made.
    static std::optional<std::string> jpegData(const QImage& image, int maxWidth);
};

} // namespace wl
