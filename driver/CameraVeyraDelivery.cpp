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
        vxcam::StreamBinding& binding = *static_cast<vxcam::StreamBinding*>(owner);
        binding.camera().BufferReady(binding, buffer);
    }
}

// Whatever happens to the frame, its buffer goes back to the stream, unless the stream's buffers were revoked
// meanwhile. The object and the buffer stay alive for the whole call, even when the host deletes the object from
// inside OnImageReady: the stream's binding, which the SDK holds for the call, counts as inside the object.
void CCameraVeyra::BufferReady(vxcam::StreamBinding& binding, sdk::Buffer* buffer) {
    if (!m_life.enter()) {
        queueAgain(binding, buffer);
        return;
    }
    deliverFrame(buffer);
    static_cast<void>(m_life.leave());
    queueAgain(binding, buffer);
    m_life.finishDelivery();
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
                           m_frameErrors);
        ImageHandle converted(source->TransformImage("BGR8"), m_frameErrors);
        m_currentFrame.converted = true;
        publishFrame(*buffer, static_cast<unsigned char*>(converted->GetBuffer()));
        notifyHost();
        source.release();
        converted.release();
    } catch (const sdk::Exceptions::IException& error) {
        m_frameErrors.report(error);
    }
}

// The four frame members, each cut to the contract's 32 bits. After a mode-3 start the frame ID counts from the
// first frame delivered (0); IGetFrameLayout keeps giving the camera's own.
void CCameraVeyra::publishFrame(const sdk::Buffer& buffer, unsigned char* pixels) noexcept {
    m_pImageData = pixels;
    m_nWidth = static_cast<int32_t>(static_cast<uint32_t>(buffer.GetWidth()));
    m_nHeight = static_cast<int32_t>(static_cast<uint32_t>(buffer.GetHeight()));
    uint64_t frameId = buffer.GetFrameID();
    const vxcam::MutexLock lock(m_numberingMutex);
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

namespace {

// Queues the buffer; false when the SDK refused. A refusal that comes because the stream's buffers were revoked
// meanwhile (a close from another thread) is what the close wanted, and is not reported; any other is reported
// with the frame path's errors, since a stream that refuses one buffer refuses the next ones too.
bool tryQueue(const vxcam::StreamBinding& binding, sdk::Buffer* buffer, vxcam::RepeatedErrorReport& errors) noexcept {
    try {
        buffer->QueueBuffer();
        return true;
    } catch (const sdk::Exceptions::IException& error) {
        if (!binding.revoked()) {
            errors.report(error);
        }
        return false;
    }
}

} // namespace

void CCameraVeyra::queueAgain(vxcam::StreamBinding& binding, sdk::Buffer* buffer) {
    if (binding.revoked()) {
        return;
    }
    if (!tryQueue(binding, buffer, binding.camera().m_frameErrors)) {
        if (!binding.revoked()) {
            binding.keepUnqueued(buffer);
        }
        return;
    }
    queueUnqueued(binding);
}

// Buffers whose queueing failed before are tried again; those that fail once more wait for the next try.
void CCameraVeyra::queueUnqueued(vxcam::StreamBinding& binding) {
    for (sdk::Buffer* buffer : binding.takeUnqueued()) {
        if (binding.revoked()) {
            return;
        }
        if (!tryQueue(binding, buffer, binding.camera().m_frameErrors)) {
            binding.keepUnqueued(buffer);
        }
    }
}
