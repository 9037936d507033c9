// A data stream of a device, its buffer list, and its new-buffer event control.
#pragma once

#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <cstdint>

namespace sdk {

class Buffer;

class VXSDK_API BufferList : public ObjectList<Buffer> {
public:
    ~BufferList() override;
    // Announces `buffer` to the stream and gives it memory for one frame of the device's current format.
    // The caller keeps ownership of the Buffer object.
    virtual void Add(Buffer* buffer) = 0;
    // Takes `buffer` out of the stream (and out of its queue) and frees its memory; returns it so that its
    // allocator can delete it. Refused while the stream is grabbing or the buffer is with the handler.
    virtual Buffer* RevokeBuffer(Buffer* buffer) = 0;
    // Buffers queued and waiting to be filled.
    [[nodiscard]] virtual uint64_t GetQueuedCount() = 0;

protected:
    BufferList() noexcept : ObjectList("BufferList::operator[]") {}
};

namespace Events {

// Called on the stream's delivery thread, once per filled buffer, with the owner given at registration.
using NewBufferEventHandler = void (*)(void* owner, Buffer* buffer);

class VXSDK_API DataStreamEventControl {
public:
    DataStreamEventControl() = default;
    DataStreamEventControl(const DataStreamEventControl&) = delete;
    DataStreamEventControl& operator=(const DataStreamEventControl&) = delete;
    virtual ~DataStreamEventControl();

    // Binds `handler` and `owner` to the stream's new-buffer event, replacing an earlier binding; a null
    // handler unbinds. Returns once no call of the earlier binding is running, unless it is called from the
    // delivery thread itself.
    virtual void RegisterNewBufferEventHandler(void* owner, NewBufferEventHandler handler) = 0;
};

} // namespace Events

class VXSDK_API DataStream : public Events::DataStreamEventControl {
public:
    [[nodiscard]] virtual String GetID() = 0;
    [[nodiscard]] virtual bool IsOpen() = 0;
    virtual void Open() = 0;
    // Closing stops acquisition first; announced buffers stay in the buffer list until revoked.
    virtual void Close() = 0;
    // The stream's buffer list, or null when the stream has none.
    [[nodiscard]] virtual BufferList* GetBufferList() = 0;
    [[nodiscard]] virtual bool GetIsGrabbing() = 0;
    virtual void StartAcquisitionContinuous() = 0;
    // Stops filling buffers; returns once no handler call is running, unless it is called from the delivery
    // thread itself.
    virtual void StopAcquisition() = 0;
    // Frames the camera sent while no buffer was queued for them.
    [[nodiscard]] virtual uint64_t GetLostFrameCount() = 0;
};

} // namespace sdk
