#include "tests/host/ColourBars.h"

#include <cmath>
#include <cstdlib>

namespace vxcam::test {
namespace {

double lumaOf(const Colour& c) {
    return 0.299 * c.red + 0.587 * c.green + 0.114 * c.blue;
}

bool rowHoldsOnly(const QImage& image, int y, Colour background) {
    for (int x = 0; x < image.width(); ++x) {
        if (!(colourAt(image, x, y) == background)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool closeTo(const Colour& seen, const Colour& expected, int tolerance) {
    return std::abs(seen.red - expected.red) <= tolerance && std::abs(seen.green - expected.green) <= tolerance &&
           std::abs(seen.blue - expected.blue) <= tolerance;
}

int barMiddle(int bar, int width) {
    return (bar * width / 8 + (bar + 1) * width / 8) / 2;
}

int cameraGrey(int bar, int bits) {
    const double top = std::ldexp(1.0, bits) - 1.0;
    return static_cast<int>(std::lround(lumaOf(kBars.at(static_cast<std::size_t>(bar))) * top / 255.0));
}

int stretchedGrey(int bar, int bits) {
    const double top = std::ldexp(1.0, bits) - 1.0;
    return static_cast<int>(std::lround(cameraGrey(bar, bits) * 65535.0 / top));
}

Colour colourAt(const QImage& image, int x, int y) {
    const QRgb pixel = image.pixel(x, y);
    return {qRed(pixel), qGreen(pixel), qBlue(pixel)};
}

int grey16At(const QImage& image, int x, int y) {
    if (image.format() != QImage::Format_Grayscale16) {
        return -1;
    }
    return reinterpret_cast<const quint16*>(image.constScanLine(y))[x]; // NOLINT: the format's own layout
}

std::vector<Colour> colourRuns(const QImage& image, int y, Colour background, int shortest) {
    std::vector<Colour> runs;
    int x = 0;
    while (x < image.width()) {
        const Colour colour = colourAt(image, x, y);
        int end = x + 1;
        while (end < image.width() && colourAt(image, end, y) == colour) {
            ++end;
        }
        if (!(colour == background) && end - x >= shortest) {
            runs.push_back(colour);
        }
        x = end;
    }
    return runs;
}

std::vector<std::pair<int, int>> bands(const QImage& image, Colour background) {
    std::vector<std::pair<int, int>> found;
    int bandStart = -1;
    for (int y = 0; y <= image.height(); ++y) {
        const bool empty = y == image.height() || rowHoldsOnly(image, y, background);
        if (!empty && bandStart < 0) {
            bandStart = y;
        } else if (empty && bandStart >= 0) {
            found.emplace_back(bandStart, y - 1);
            bandStart = -1;
        }
    }
    return found;
}

std::vector<int> bandMiddles(const QImage& image, Colour background) {
    std::vector<int> middles;
    for (const auto& [first, last] : bands(image, background)) {
        middles.push_back((first + last) / 2);
    }
    return middles;
}

} // namespace vxcam::test
