#include "host/ContactSheet.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cstring>

namespace vxcam::host {
namespace {

constexpr int kGap = 8;                   // pixels between cells and around the sheet
constexpr unsigned char kBackground = 48; // dark grey, apart from both white and black bars

// Copies `tile` into `sheet` at (left, top) row by row; both are RGB888 and the tile fits.
void place(QImage& sheet, const QImage& tile, int left, int top) {
    const std::size_t rowBytes = static_cast<std::size_t>(tile.width()) * 3;
    for (int row = 0; row < tile.height(); ++row) {
        std::memcpy(sheet.scanLine(top + row) + static_cast<std::size_t>(left) * 3, tile.constScanLine(row), rowBytes);
    }
}

struct Rgb {
    unsigned char red;
    unsigned char green;
    unsigned char blue;
};

// One pixel of the formats frameImage makes, as 8-bit RGB; 16-bit grey keeps its high byte, rounded.
std::array<unsigned, 3> rgbAt(const QImage& image, int x, int y) {
    const uchar* line = image.constScanLine(y);
    const auto column = static_cast<std::size_t>(x);
    switch (image.format()) {
    case QImage::Format_Grayscale8:
        return {line[column], line[column], line[column]};
    case QImage::Format_Grayscale16: {
        quint16 value = 0;
        std::memcpy(&value, line + 2 * column, sizeof value);
        const unsigned grey = (value + 128U) / 257U;
        return {grey, grey, grey};
    }
    case QImage::Format_RGB888:
        return {line[3 * column], line[3 * column + 1], line[3 * column + 2]};
    default: {
        const QRgb pixel = image.pixel(x, y);
        return {static_cast<unsigned>(qRed(pixel)), static_cast<unsigned>(qGreen(pixel)),
                static_cast<unsigned>(qBlue(pixel))};
    }
    }
}

// The mean colour of the `size` x `size` block at (left, top), cut at the image's edges.
Rgb boxMean(const QImage& image, int left, int top, int size) {
    std::array<unsigned, 3> sum{};
    unsigned count = 0;
    for (int y = top; y < std::min(top + size, image.height()); ++y) {
        for (int x = left; x < std::min(left + size, image.width()); ++x) {
            const std::array<unsigned, 3> pixel = rgbAt(image, x, y);
            for (std::size_t c = 0; c < 3; ++c) {
                sum[c] += pixel[c];
            }
            ++count;
        }
    }
    const auto mean = [&](std::size_t c) { return static_cast<unsigned char>((sum[c] + count / 2) / count); };
    return {mean(0), mean(1), mean(2)};
}

} // namespace

QImage thumbnailOf(const QImage& frame, int maxSide) {
    if (frame.isNull() || maxSide < 1) {
        return {};
    }
    // A whole-number shrink with a box filter: bar interiors keep their exact colours.
    const int factor = std::max(1, (std::max(frame.width(), frame.height()) + maxSide - 1) / maxSide);
    QImage tile(std::max(1, frame.width() / factor), std::max(1, frame.height() / factor), QImage::Format_RGB888);
    if (tile.isNull()) {
        return tile;
    }
    for (int y = 0; y < tile.height(); ++y) {
        unsigned char* out = tile.scanLine(y);
        for (int x = 0; x < tile.width(); ++x) {
            const Rgb mean = boxMean(frame, x * factor, y * factor, factor);
            const auto column = static_cast<std::size_t>(x);
            out[3 * column] = mean.red;
            out[3 * column + 1] = mean.green;
            out[3 * column + 2] = mean.blue;
        }
    }
    return tile;
}

QImage rgb32Of(const QImage& frame) {
    if (frame.isNull()) {
        return {};
    }
    QImage converted(frame.width(), frame.height(), QImage::Format_RGB32);
    if (converted.isNull()) {
        return converted;
    }
    for (int y = 0; y < frame.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(converted.scanLine(y)); // NOLINT: the format's own layout
        for (int x = 0; x < frame.width(); ++x) {
            const std::array<unsigned, 3> pixel = rgbAt(frame, x, y);
            line[x] = qRgb(static_cast<int>(pixel[0]), static_cast<int>(pixel[1]), static_cast<int>(pixel[2]));
        }
    }
    return converted;
}

QImage labelledTile(const QImage& tile, const QString& label) {
    if (tile.isNull()) {
        return {};
    }
    QFont font;
    font.setPixelSize(kLabelHeight - 4);
    const int textWidth = QFontMetrics(font).horizontalAdvance(label) + 6;
    const int width = std::max(tile.width(), textWidth);
    const int height = tile.height() + kLabelHeight;
    // Only the text is painted; every other pixel is set here, since Qt converts larger images on its thread
    // pool. The painter draws on RGB32, and the sheet takes RGB888.
    QImage canvas(width, height, QImage::Format_RGB32);
    if (canvas.isNull()) {
        return canvas;
    }
    canvas.fill(QColor(kBackground, kBackground, kBackground));
    const QImage picture = rgb32Of(tile);
    const int left = (width - tile.width()) / 2;
    for (int y = 0; y < picture.height(); ++y) {
        std::memcpy(canvas.scanLine(y) + static_cast<std::size_t>(left) * 4, picture.constScanLine(y),
                    static_cast<std::size_t>(picture.width()) * 4);
    }
    const QRgb strip = qRgb(kLabelStrip[0], kLabelStrip[1], kLabelStrip[2]);
    for (int y = tile.height(); y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y)); // NOLINT: the format's own layout
        std::fill(line, line + width, strip);
    }
    {
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(3, tile.height(), width - 6, kLabelHeight), Qt::AlignVCenter | Qt::AlignLeft, label);
    }
    QImage labelled(width, height, QImage::Format_RGB888);
    if (labelled.isNull()) {
        return labelled;
    }
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(canvas.constScanLine(y)); // NOLINT: the format's own layout
        unsigned char* out = labelled.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const auto column = static_cast<std::size_t>(x);
            out[3 * column] = static_cast<unsigned char>(qRed(in[x]));
            out[3 * column + 1] = static_cast<unsigned char>(qGreen(in[x]));
            out[3 * column + 2] = static_cast<unsigned char>(qBlue(in[x]));
        }
    }
    return labelled;
}

QImage composeSheet(const std::vector<std::vector<QImage>>& rows) {
    int cellWidth = 0;
    int cellHeight = 0;
    std::size_t columns = 0;
    for (const std::vector<QImage>& row : rows) {
        columns = std::max(columns, row.size());
        for (const QImage& tile : row) {
            cellWidth = std::max(cellWidth, tile.width());
            cellHeight = std::max(cellHeight, tile.height());
        }
    }
    if (columns == 0 || cellWidth == 0 || cellHeight == 0) {
        return {};
    }
    const int width = kGap + static_cast<int>(columns) * (cellWidth + kGap);
    const int height = kGap + static_cast<int>(rows.size()) * (cellHeight + kGap);
    QImage sheet(width, height, QImage::Format_RGB888);
    if (sheet.isNull()) {
        return sheet;
    }
    for (int row = 0; row < height; ++row) {
        std::memset(sheet.scanLine(row), kBackground, static_cast<std::size_t>(width) * 3);
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const QImage& tile = rows[r][c];
            if (tile.isNull() || tile.format() != QImage::Format_RGB888) {
                continue;
            }
            const int left = kGap + static_cast<int>(c) * (cellWidth + kGap) + (cellWidth - tile.width()) / 2;
            const int top = kGap + static_cast<int>(r) * (cellHeight + kGap) + (cellHeight - tile.height()) / 2;
            place(sheet, tile, left, top);
        }
    }
    return sheet;
}

std::vector<std::vector<QImage>> gridOf(const std::vector<QImage>& tiles, std::size_t columns) {
    std::vector<std::vector<QImage>> rows;
    const std::size_t perRow = std::max<std::size_t>(columns, 1);
    for (std::size_t first = 0; first < tiles.size(); first += perRow) {
        const std::size_t last = std::min(tiles.size(), first + perRow);
        rows.emplace_back(tiles.begin() + static_cast<std::ptrdiff_t>(first),
                          tiles.begin() + static_cast<std::ptrdiff_t>(last));
    }
    return rows;
}

} // namespace vxcam::host
