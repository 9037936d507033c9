#include "host/FrameWriter.h"

#include "host/ContactSheet.h"
#include "host/FrameImage.h"

#include <QDir>

#include <utility>

namespace vxcam::host {

FrameWriter::FrameWriter(QString directory, ReceivedLayout layout)
    : m_directory(std::move(directory)), m_layout(std::move(layout)) {}

void FrameWriter::take(std::vector<CapturedFrame> frames, const FrameCollector& collector) {
    for (CapturedFrame& frame : frames) {
        const QImage image = frameImage(m_layout, frame.width, frame.height, frame.bytes);
        frame.bytes = {};
        if (image.isNull()) {
            fail(QStringLiteral("frame %1 (%2 x %3) could not be read as %4")
                     .arg(frame.index)
                     .arg(frame.width)
                     .arg(frame.height)
                     .arg(m_layout.name));
            continue;
        }
        if (frame.save) {
            const QString path =
                QDir(m_directory).filePath(QStringLiteral("frame-%1.png").arg(frame.index, 6, 10, QLatin1Char('0')));
            if (savePng(image, path)) {
                m_saved.push_back({path, frame.index, frame.frameId});
            }
        }
        if (frame.sample) {
            m_tiles[frame.index] = thumbnailOf(image);
        }
    }
    // Tiles the sampler has let go of since are not needed any more.
    for (auto tile = m_tiles.begin(); tile != m_tiles.end();) {
        tile = collector.stillSampled(tile->first) ? std::next(tile) : m_tiles.erase(tile);
    }
}

std::vector<QImage> FrameWriter::tilesOf(const std::vector<int64_t>& indices) const {
    std::vector<QImage> tiles;
    for (const int64_t index : indices) {
        const auto tile = m_tiles.find(index);
        if (tile != m_tiles.end()) {
            tiles.push_back(tile->second);
        }
    }
    return tiles;
}

bool FrameWriter::savePng(const QImage& image, const QString& path) {
    if (image.isNull() || !image.save(path, "PNG")) {
        fail(QStringLiteral("cannot write '%1'").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return true;
}

void FrameWriter::fail(const QString& reason) {
    if (m_nFailures++ == 0) {
        m_firstFailure = reason;
    }
}

} // namespace vxcam::host
