#include "media/Pictures.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

namespace wl {

namespace {

std::string quoted(const std::string& name)
{
    return "\u201c" + name + "\u201d";
}

std::string tooLarge(const std::string& name)
{
    return quoted(name) + " is too large to add: a picture can be at most " + std::to_string(Pictures::kMaxSide) +
        " pixels wide or high, and " + std::to_string(Pictures::kMaxPixels / 1'000'000) + " million pixels in all.";
}

std::string unreadable(const std::string& name)
{
    return quoted(name) + " isn't a picture Wickerlane can read.";
}

PictureRead read(QIODevice& device, const std::string& name)
{
    PictureRead result;
    QImageReader reader(&device);
    reader.setAllocationLimit(Pictures::kAllocationLimitMiB);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        result.problem = unreadable(name);
        return result;
    }
    // The header's size first: nothing too large is ever decoded.
    const QSize size = reader.size();
    if (size.isValid() &&
        (size.width() > Pictures::kMaxSide || size.height() > Pictures::kMaxSide ||
         std::int64_t(size.width()) * size.height() > Pictures::kMaxPixels)) {
        result.problem = tooLarge(name);
        return result;
    }
    QImage image = reader.read();
    if (image.isNull()) {
        // A decoder that stopped at the allocation limit says so; anything else is damage.
        const bool limit = reader.errorString().contains("allocation", Qt::CaseInsensitive);
        result.problem = limit ? tooLarge(name) : unreadable(name);
        return result;
    }
    if (image.width() > Pictures::kMaxSide || image.height() > Pictures::kMaxSide) {
        result.problem = tooLarge(name);
        return result;
    }
    result.image = std::move(image);
    return result;
}

} // namespace

PictureRead Pictures::readFile(const std::string& path, const std::string& shownName)
{
    PictureRead result;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = quoted(shownName) + " couldn't be opened.";
        return result;
    }
    if (file.size() > kMaxFileBytes) {
        result.problem = quoted(shownName) + " is too big to add: a picture file can be at most " +
            std::to_string(kMaxFileBytes / (1024 * 1024)) + " MB.";
        return result;
    }
    return read(file, shownName);
}

PictureRead Pictures::readData(const QByteArray& bytes, const std::string& shownName)
{
    if (bytes.size() > kMaxFileBytes) {
        PictureRead result;
        result.problem = quoted(shownName) + " is too big to add: a picture can be at most " +
            std::to_string(kMaxFileBytes / (1024 * 1024)) + " MB.";
        return result;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return read(buffer, shownName);
}

std::optional<std::string> Pictures::jpegData(const QImage& image, int maxWidth)
{
    if (image.isNull() || maxWidth < 1)
        return std::nullopt;
    QImage source = image;
    if (source.width() > maxWidth) {
        const double scale = double(maxWidth) / double(source.width());
        const int height = std::max(1, int(double(source.height()) * scale));
        source = source.scaled(maxWidth, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (source.isNull())
            return std::nullopt;
    }
    QImage opaque;
    if (source.hasAlphaChannel()) {
        opaque = QImage(source.size(), QImage::Format_RGB32);
        if (opaque.isNull())
            return std::nullopt;
        opaque.fill(Qt::white);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, source);
    } else {
        opaque = source.convertToFormat(QImage::Format_RGB32);
    }
    if (opaque.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(kJpegQuality);
    if (!writer.write(opaque))
        return std::nullopt;
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace wl
