#include "host/FrameWriter.h"

#include "host/ContactSheet.h"
#include "host/FrameImage.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace vxcam::host {
namespace {

// PNG's quicker zlib levels: Qt maps quality 80 to level 1, which writes a 12-megapixel frame several times
// faster than the default level for files about a fifth larger.
constexpr int kPngQuality = 80;

unsigned writerThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 2U, 8U);
}

} // namespace

std::optional<QString> writePng(const QImage& image, const QString& path) {
    const auto failed = [&](const QString& reason) {
        return QStringLiteral("cannot write '%1': %2").arg(QDir::toNativeSeparators(path), reason);
    };
    if (image.isNull()) {
        return failed(QStringLiteral("the frame gave no picture"));
    }
    // Encoded in memory first, so that every byte the file must hold is known and can be checked.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG", kPngQuality)) {
        return failed(QStringLiteral("the PNG encoder failed"));
    }
    // Written under a temporary name and renamed only once every byte reached the file: a full disk leaves no
    // empty or cut-off picture under a frame's name. QSaveFile alone is not enough: it renames a file whose final
    // flush failed, so the write and the flush are checked here, and the renamed file's size after.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return failed(file.errorString());
    }
    const qint64 written = file.write(encoded);
    if (written != encoded.size() || !file.flush()) {
        const int code = errno; // Qt's own text is often "Unknown error" for a short write
        const QString cause = code != 0 ? qt_error_string(code) : file.errorString();
        const QString reason = written == encoded.size()
                                   ? QStringLiteral("the flush to the file failed (%1)").arg(cause)
                                   : QStringLiteral("only %1 of %2 bytes written (%3)")
                                         .arg(std::max<qint64>(written, 0))
                                         .arg(encoded.size())
                                         .arg(cause);
        file.cancelWriting();
        return failed(reason);
    }
    if (!file.commit()) {
        return failed(file.errorString());
    }
    if (QFileInfo(path).size() != encoded.size()) {
        QFile::remove(path);
        return failed(QStringLiteral("the file holds fewer bytes than were written"));
    }
    return std::nullopt;
}

FrameWriter::FrameWriter(QString directory, FrameCollector& collector)
    : m_directory(std::move(directory)), m_collector(collector) {
    for (unsigned i = 0; i < writerThreads(); ++i) {
        m_threads.emplace_back([this] { writeFrames(); });
    }
}

FrameWriter::~FrameWriter() {
    finish();
}

void FrameWriter::finish() {
    m_collector.closeCaptures();
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    m_threads.clear();
}

void FrameWriter::writeFrames() {
    while (std::optional<CapturedFrame> frame = m_collector.nextCaptured()) {
        const std::size_t bytes = frame->bytes.size();
        write(*frame);
        m_collector.frameWritten(bytes);
    }
}

void FrameWriter::write(CapturedFrame& frame) {
    const QImage image = frameImage(frame.layout, frame.width, frame.height, frame.bytes);
    frame.bytes = {};
    if (image.isNull()) {
        fail(QStringLiteral("frame %1 (%2 x %3) could not be read as %4")
                 .arg(frame.index)
                 .arg(frame.width)
                 .arg(frame.height)
                 .arg(frame.layout.name));
        return;
    }
    if (frame.save) {
        const QString path =
            QDir(m_directory).filePath(QStringLiteral("frame-%1.png").arg(frame.index, 6, 10, QLatin1Char('0')));
        if (savePng(image, path)) {
            const std::lock_guard lock(m_mutex);
            m_saved.push_back({path, frame.index, frame.frameId});
        }
    }
    if (frame.sample && m_collector.stillSampled(frame.index)) {
        FrameTile tile{thumbnailOf(image), frame.frameId};
        const std::lock_guard lock(m_mutex);
        m_tiles[frame.index] = std::move(tile);
        // Tiles the sampler has let go of since are not needed any more.
        for (auto kept = m_tiles.begin(); kept != m_tiles.end();) {
            kept = m_collector.stillSampled(kept->first) ? std::next(kept) : m_tiles.erase(kept);
        }
    }
}

std::vector<FrameTile> FrameWriter::tilesOf(const std::vector<int64_t>& indices) const {
    const std::lock_guard lock(m_mutex);
    std::vector<FrameTile> tiles;
    for (const int64_t index : indices) {
        const auto tile = m_tiles.find(index);
        if (tile != m_tiles.end()) {
            tiles.push_back(tile->second);
        }
    }
    return tiles;
}

std::vector<SavedFrame> FrameWriter::saved() const {
    std::vector<SavedFrame> frames;
    {
        const std::lock_guard lock(m_mutex);
        frames = m_saved;
    }
    std::sort(frames.begin(), frames.end(), [](const SavedFrame& a, const SavedFrame& b) { return a.index < b.index; });
    return frames;
}

int64_t FrameWriter::failures() const {
    const std::lock_guard lock(m_mutex);
    return m_nFailures;
}

QString FrameWriter::firstFailure() const {
    const std::lock_guard lock(m_mutex);
    return m_firstFailure;
}

bool FrameWriter::savePng(const QImage& image, const QString& path) {
    const std::optional<QString> why = writePng(image, path);
    if (why) {
        fail(*why);
    }
    return !why;
}

void FrameWriter::fail(const QString& reason) {
    const std::lock_guard lock(m_mutex);
    if (m_nFailures++ == 0) {
        m_firstFailure = reason;
    }
}

} // namespace vxcam::host
