// A frame buffer. The driver allocates the Buffer object; the SDK supplies its memory when the buffer is
// added to a stream's buffer list, and frees that memory when the buffer is revoked or destroyed.
#pragma once

#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace sdk {

namespace core {
class BufferAccess;
class BufferOwner;
} // namespace core

// What the transport made of the frame it put into the buffer.
enum class BufferStatus : uint8_t {
    Complete,   // every byte of the frame arrived
    Incomplete, // packets were lost on the way: parts of the frame are missing
    Failed,     // the transport gave up on the frame (timeout, size mismatch, error)
};

// Ownership at each hand-over: after QueueBuffer the stream fills the buffer and may write its memory until
// it hands the buffer to the new-buffer handler; from then until the next QueueBuffer the handler's side
// owns it and the stream does not touch it. Only complete buffers reach the handler.
class VXSDK_API Buffer {
public:
    Buffer() noexcept;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    // A buffer that is still announced to a stream leaves the stream first.
    ~Buffer();

    // Returns the buffer to its stream for filling; an SDK error when no stream announced it.
    void QueueBuffer();

    // Frame accessors: what the stream wrote when it handed the buffer over. Cheap, never raise.
    [[nodiscard]] void* GetMemPtr() const noexcept { return m_pMemory.get(); }
    [[nodiscard]] uint64_t GetMemSize() const noexcept { return m_nMemSize; }
    [[nodiscard]] uint64_t GetWidth() const noexcept { return m_nWidth; }
    [[nodiscard]] uint64_t GetHeight() const noexcept { return m_nHeight; }
    [[nodiscard]] uint64_t GetFrameID() const noexcept { return m_nFrameId; }
    // The GenICam name of the frame's format. It lives as long as the process and is not copied: a view of it
    // stays valid after the call, the frame and the session.
    [[nodiscard]] String GetPixelFormat() const noexcept { return String::persistent(m_pPixelFormat); }
    [[nodiscard]] const char* GetPixelFormatName() const noexcept { return m_pPixelFormat; }
    // The GenICam pixel-format naming convention's 32-bit code of the format; 0 when the name has none.
    [[nodiscard]] uint32_t GetPixelFormatCode() const noexcept { return m_nPixelFormatCode; }
    // Nanoseconds on the camera's clock when the frame was taken.
    [[nodiscard]] uint64_t GetTimestamp() const noexcept { return m_nTimestamp; }
    [[nodiscard]] BufferStatus GetStatus() const noexcept { return m_status; }
    [[nodiscard]] bool IsComplete() const noexcept { return m_status == BufferStatus::Complete; }
    // Bytes of the frame in the buffer's memory (at most GetMemSize()).
    [[nodiscard]] uint64_t GetPayloadSize() const noexcept { return m_nPayloadSize; }
    // Bytes from the start of one line to the next; 0 when lines do not start on a byte (packed formats).
    [[nodiscard]] uint64_t GetLinePitch() const noexcept { return m_nLinePitch; }

private:
    friend class core::BufferAccess;

    // The stream that announced the buffer; set and cleared by that stream's buffer list.
    std::atomic<core::BufferOwner*> m_pOwner{nullptr};
    std::unique_ptr<unsigned char[]> m_pMemory;
    uint64_t m_nMemSize = 0;
    uint64_t m_nWidth = 0;
    uint64_t m_nHeight = 0;
    uint64_t m_nFrameId = 0;
    uint64_t m_nTimestamp = 0;
    uint64_t m_nPayloadSize = 0;
    uint64_t m_nLinePitch = 0;
    const char* m_pPixelFormat = ""; // a name that lives as long as the process
    uint32_t m_nPixelFormatCode = 0;
    BufferStatus m_status = BufferStatus::Complete;
};

} // namespace sdk
