// Frame delivery: every filled buffer becomes the object's frame members, the host's OnImageReady, and goes
// back to its stream. Runs on the streams' delivery threads.
#include "driver/CameraVeyra.h"
#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

#include <string_view>

namespace {

// Monochrome formats and those whose name begins with "RGB8" reach the host in the camera's own layout.
bool passesThrough(std::string_view pixelFormat) noexcept {
    const std::string_view head = pixelFormat.substr(0, 4);
    return pixelFormat == "Mono8" || head == "Mono" || head == "RGB8";
}

// An SDK image given back on every path; a failure to give it back on an error path is reported with the
// frame path's other errors.
class ImageHandle {
public:
    ImageHandle(sdk::Image* image, vxcam::RepeatedErrorReport& errors) noexcept : m_pImage(image), m_errors(errors) {}
    ~ImageHandle() {
        if (m_pImage == nullptr) {
            return;
        }
        try {
            m_pImage->Release();
        } catch (const sdk::Exceptions::IException& error) {
            m_errors.report(error);
        }
    }
    ImageHandle(const ImageHandle&) = delete;
    ImageHandle& operator=(const ImageHandle&) = delete;

    sdk::Image* operator->() const {
        if (m_pImage == nullptr) {
            sdk::Exceptions::raise("NotAvailableException", "ImageProcessor::CreateImage", "the SDK gave no image");
        }
        return m_pImage;
    }
    void release() {
        sdk::Image* image = m_pImage;
        m_pImage = nullptr;
        if (image != nullptr) {
            image->Release();
        }
    }

private:
    sdk::Image* m_pImage;
    vxcam::RepeatedErrorReport& m_errors;
};

} // namespace

void CCameraVeyra::BufferHandler(void* owner, sdk::Buffer* buffer) {
    if (owner != nullptr && buffer != nullptr) {
        static_cast<CCameraVeyra*>(owner)->BufferReady(buffer);
    }
}

// Whatever happens to the frame, its buffer goes back to the stream, unless the host released the buffer (or
// the whole object) from inside OnImageReady.
void CCameraVeyra::BufferReady(sdk::Buffer* buffer) {
    // Both outlive `this` if the host deletes the object meanwhile.
    const std::shared_ptr<vxcam::CameraLifecycle> lifecycle = m_pLifecycle;
    const std::shared_ptr<vxcam::RepeatedErrorReport> errors = m_pFrameErrors;
    if (!lifecycle->enter(buffer)) {
        queueAgain(buffer, *errors);
        return;
    }
    deliverFrame(buffer);
    {
        vxcam::CameraLifecycle::Exit exit = lifecycle->leave();
        if (!exit.objectDeleted && !exit.bufferRetired) {
            queueAgain(buffer, *errors);
        }
    } // buffers the host released during the delivery are freed here, before the object may go
    lifecycle->finishDelivery();
}

void CCameraVeyra::deliverFrame(sdk::Buffer* buffer) {
    qCDebug(vxcam::lcFrame()) << "CCameraVeyra::BufferReady";
    try {
        const sdk::String pixelFormat = buffer->GetPixelFormat();
        m_currentFrame = {buffer, pixelFormat.view(), false};
        if (passesThrough(pixelFormat.view())) {
            publishFrame(*buffer, static_cast<unsigned char*>(buffer->GetMemPtr()));
            notifyHost();
            return;
        }
        if (m_pImageProcessor == nullptr) {
            // Taken again when the constructor could not: one failure must not end conversion for good.
            m_pImageProcessor = sdk::ImageProcessor::GetInstance();
        }
        if (m_pImageProcessor == nullptr) {
            throw sdk::Exceptions::Exception(sdk::String("NotAvailableException"),
                                             sdk::String("ImageProcessor::GetInstance"),
                                             sdk::String("no image processor to convert " + pixelFormat.str()));
        }
        ImageHandle source(m_pImageProcessor->CreateImage(static_cast<uint32_t>(buffer->GetWidth()),
                                                          static_cast<uint32_t>(buffer->GetHeight()), pixelFormat,
                                                          buffer->GetMemPtr(), buffer->GetMemSize()),
                           *m_pFrameErrors);
        ImageHandle converted(source->TransformImage("BGR8"), *m_pFrameErrors);
        m_currentFrame.converted = true;
        publishFrame(*buffer, static_cast<unsigned char*>(converted->GetBuffer()));
        notifyHost();
        source.release();
        converted.release();
    } catch (const sdk::Exceptions::IException& error) {
        m_pFrameErrors->report(error);
    }
}

// The four frame members, each cut to the contract's 32 bits. After a mode-3 start the frame ID counts from the
// first frame delivered (0); IGetFrameLayout keeps giving the camera's own.
void CCameraVeyra::publishFrame(const sdk::Buffer& buffer, unsigned char* pixels) noexcept {
    m_pImageData = pixels;
    m_nWidth = static_cast<int32_t>(static_cast<uint32_t>(buffer.GetWidth()));
    m_nHeight = static_cast<int32_t>(static_cast<uint32_t>(buffer.GetHeight()));
    uint64_t frameId = buffer.GetFrameID();
    if (m_frameNumbering.originPending) {
        m_frameNumbering.origin = frameId;
        m_frameNumbering.originPending = false;
    }
    if (m_frameNumbering.fromZero) {
        frameId -= m_frameNumbering.origin;
    }
    m_nFrameId.store(static_cast<int32_t>(static_cast<uint32_t>(frameId)), std::memory_order_relaxed);
}

// The host's callback must not take the delivery thread down with it.
void CCameraVeyra::notifyHost() {
    if (m_pCallback == nullptr) {
        return;
    }
    try {
        m_pCallback->OnImageReady(this);
    } catch (const sdk::Exceptions::IException&) {
        throw;
    } catch (...) {
        qCWarning(vxcam::lcDriver()) << "OnImageReady raised an exception; the frame goes back to its stream"
                                     << " - "
                                     << "CCameraVeyra::BufferReady";
    }
}

// A stream that refuses its buffers refuses every one of them: summarised like the other errors of frames.
void CCameraVeyra::queueAgain(sdk::Buffer* buffer, vxcam::RepeatedErrorReport& errors) {
    try {
        buffer->QueueBuffer();
    } catch (const sdk::Exceptions::IException& error) {
        errors.report(error);
    }
}
