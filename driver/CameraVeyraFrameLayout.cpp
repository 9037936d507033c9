// The family's frame description: what the bytes at m_pImageData are, for a host inside OnImageReady.
#include "driver/CameraVeyra.h"
#include "sdk/Sdk.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// The PFNC name of a layout that passes through unchanged. "RGB8Packed" is the older spelling of "RGB8";
// monochrome names are PFNC names already (the "...Packed" ones being the older GigE Vision codings).
std::string_view passedThroughLayout(std::string_view cameraFormat) noexcept {
    return cameraFormat == "RGB8Packed" ? std::string_view("RGB8") : cameraFormat;
}

template <std::size_t N>
void copyName(char (&target)[N], std::string_view name) noexcept {
    const std::size_t length = std::min(name.size(), N - 1);
    std::memcpy(target, name.data(), length);
    target[length] = '\0';
}

} // namespace

int32_t CCameraVeyra::IGetFrameLayout(VeyraFrameLayout* layout) {
    if (layout == nullptr || layout->recordSize < sizeof(VeyraFrameLayout) || !m_life.isDeliveringThread()) {
        return 0;
    }
    m_life.insideTheDelivery();
    const sdk::Buffer& buffer = *m_currentFrame.buffer;
    const std::string_view cameraFormat = m_currentFrame.cameraFormat;
    copyName(layout->cameraPixelFormat, cameraFormat);
    layout->width = buffer.GetWidth();
    layout->height = buffer.GetHeight();
    layout->frameId = buffer.GetFrameID();
    if (m_currentFrame.converted) {
        copyName(layout->pixelFormat, "BGR8");
        layout->linePitch = 3 * buffer.GetWidth();
        layout->byteSize = layout->linePitch * buffer.GetHeight();
    } else {
        copyName(layout->pixelFormat, passedThroughLayout(cameraFormat));
        layout->linePitch = buffer.GetLinePitch();
        // Never more than the buffer holds, whatever the frame's description says.
        layout->byteSize = std::min(buffer.GetPayloadSize(), buffer.GetMemSize());
    }
    return 1;
}
