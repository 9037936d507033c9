#include "host/ReceivedLayout.h"

#include <array>

namespace vxcam::host {
namespace {

struct MonoFormat {
    const char* name;
    SampleLayout samples;
    int bits;
    const char* description;
};

constexpr std::array<MonoFormat, 8> kMonoFormats{{
    {"Mono8", SampleLayout::Gray8, 8, "Mono8"},
    {"Mono10", SampleLayout::Gray16, 10, "Mono10 in 16-bit containers"},
    {"Mono12", SampleLayout::Gray16, 12, "Mono12 in 16-bit containers"},
    {"Mono14", SampleLayout::Gray16, 14, "Mono14 in 16-bit containers"},
    {"Mono16", SampleLayout::Gray16, 16, "Mono16"},
    {"Mono10p", SampleLayout::GrayPacked10, 10, "Mono10p (packed bit stream)"},
    {"Mono12p", SampleLayout::GrayPacked12, 12, "Mono12p (packed bit stream)"},
    {"Mono12Packed", SampleLayout::GrayNibbles12, 12, "Mono12Packed (two samples in three bytes)"},
}};

// Frames past this size are not a camera's; their sizes would only overflow the arithmetic below.
constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 31U;

} // namespace

std::optional<std::size_t> ReceivedLayout::frameBytes(int32_t width, int32_t height) const noexcept {
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    uint64_t bytes = 0;
    switch (samples) {
    case SampleLayout::Unknown:
        return std::nullopt;
    case SampleLayout::Gray8:
        bytes = pixels;
        break;
    case SampleLayout::Gray16:
        bytes = 2 * pixels;
        break;
    case SampleLayout::GrayPacked10:
        bytes = (pixels * 10 + 7) / 8;
        break;
    case SampleLayout::GrayPacked12:
    case SampleLayout::GrayNibbles12:
        bytes = (pixels * 12 + 7) / 8;
        break;
    case SampleLayout::Rgb8:
    case SampleLayout::Bgr8:
        bytes = 3 * pixels;
        break;
    }
    if (bytes > kMaxFrameBytes) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(bytes);
}

ReceivedLayout layoutNamed(const QString& pfncName) {
    for (const MonoFormat& format : kMonoFormats) {
        if (pfncName == QLatin1String(format.name)) {
            return {format.samples, format.bits, QLatin1String(format.description), pfncName};
        }
    }
    if (pfncName == QLatin1String("RGB8")) {
        return {SampleLayout::Rgb8, 8, QStringLiteral("RGB8"), pfncName};
    }
    if (pfncName == QLatin1String("BGR8")) {
        return {SampleLayout::Bgr8, 8, QStringLiteral("BGR8"), pfncName};
    }
    if (pfncName.isEmpty()) {
        return {SampleLayout::Unknown, 0, QStringLiteral("not described by the module"), pfncName};
    }
    return {SampleLayout::Unknown, 0, QStringLiteral("%1 (a layout this tool does not read)").arg(pfncName), pfncName};
}

std::optional<std::size_t> lineBytes(const ReceivedLayout& layout, int32_t width) noexcept {
    const std::optional<std::size_t> one = layout.frameBytes(width, 1);
    const bool packed = layout.samples == SampleLayout::GrayPacked10 || layout.samples == SampleLayout::GrayPacked12 ||
                        layout.samples == SampleLayout::GrayNibbles12;
    if (!one || (packed && (static_cast<uint64_t>(width) * static_cast<uint64_t>(layout.significantBits)) % 8 != 0)) {
        return std::nullopt;
    }
    return one;
}

} // namespace vxcam::host
