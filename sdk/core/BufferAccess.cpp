#include "sdk/core/BufferAccess.h"

#include "sdk/SdkExceptions.h"
#include "sdk/core/PayloadLimit.h"
#include "sdk/core/PixelFormats.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>

namespace sdk::core {

const char* internPixelFormatName(std::string_view name) {
    if (const PixelFormatInfo* format = findPixelFormat(name)) {
        return format->name;
    }
    if (name.empty()) {
        return "";
    }
    // Names the table lacks are kept for the rest of the process: a buffer may be read after its stream,
    // its device and the whole session are gone. A camera has a handful of formats, so the set stays small.
    static std::mutex namesMutex; // guards names
    static std::set<std::string, std::less<>> names;
    const std::lock_guard lock(namesMutex);
    auto found = names.find(name);
    if (found == names.end()) {
        found = names.emplace(name).first;
    }
    return found->c_str();
}

void BufferAccess::attach(Buffer& buffer, BufferOwner& owner, uint64_t memSize) {
    // A frame no buffer can hold is refused by its size, for every producer: a camera may announce a payload
    // this machine cannot give, and an allocation that fails later would end the host's process.
    if (const std::optional<std::string> refusal = bufferSizeRefusal(memSize, "a buffer for this stream's frames")) {
        Exceptions::raise("ResourceException", "BufferList::Add", *refusal);
    }
    std::unique_ptr<unsigned char[]> memory(new (std::nothrow) unsigned char[memSize]()); // zeroed
    if (memory == nullptr && memSize > 0) {
        Exceptions::raise("ResourceException", "BufferList::Add",
                          "no memory for a buffer of " + describeBytes(memSize));
    }
    buffer.m_pMemory = std::move(memory);
    buffer.m_nMemSize = memSize;
    buffer.m_pOwner.store(&owner);
}

void BufferAccess::orphan(Buffer& buffer) noexcept {
    buffer.m_pOwner.store(nullptr);
}

void BufferAccess::detach(Buffer& buffer) noexcept {
    buffer.m_pOwner.store(nullptr);
    buffer.m_pMemory.reset();
    buffer.m_nMemSize = 0;
    buffer.m_nWidth = 0;
    buffer.m_nHeight = 0;
    buffer.m_nFrameId = 0;
    buffer.m_nTimestamp = 0;
    buffer.m_nPayloadSize = 0;
    buffer.m_nLinePitch = 0;
    buffer.m_pPixelFormat = "";
    buffer.m_nPixelFormatCode = 0;
    buffer.m_status = BufferStatus::Complete;
}

void BufferAccess::describeFrame(Buffer& buffer, const FrameDescription& frame) {
    buffer.m_nWidth = frame.width;
    buffer.m_nHeight = frame.height;
    buffer.m_nFrameId = frame.frameId;
    buffer.m_pPixelFormat = internPixelFormatName(frame.pixelFormat);
    buffer.m_nTimestamp = frame.timestamp;
    buffer.m_status = frame.status;
    const PixelFormatInfo* format = findPixelFormat(frame.pixelFormat);
    buffer.m_nPixelFormatCode = format != nullptr ? format->code : 0;
    uint64_t fullSize = 0;
    if (format == nullptr) {
        // A format the SDK does not know fills the whole buffer as far as anyone can tell.
        fullSize = frame.width * frame.height == 0 ? 0 : buffer.m_nMemSize;
        buffer.m_nLinePitch = 0;
    } else {
        const uint64_t lineBits = frame.width * format->bitsPerPixel;
        fullSize = framePayloadSize(*format, frame.width, frame.height);
        buffer.m_nLinePitch = lineBits % 8 == 0 ? lineBits / 8 : 0;
    }
    const uint64_t arrived = frame.payloadSize == UINT64_MAX ? fullSize : frame.payloadSize;
    buffer.m_nPayloadSize = std::min(arrived, buffer.m_nMemSize == 0 ? arrived : buffer.m_nMemSize);
}

void BufferAccess::describeFrame(Buffer& buffer, uint64_t width, uint64_t height, uint64_t frameId,
                                 std::string_view pixelFormat, uint64_t timestamp) {
    FrameDescription frame;
    frame.width = width;
    frame.height = height;
    frame.frameId = frameId;
    frame.pixelFormat = pixelFormat;
    frame.timestamp = timestamp;
    describeFrame(buffer, frame);
}

} // namespace sdk::core
