// One simulated camera as the GenTL producer serves it: its register map (the GenICam description, image
// settings, trigger and acquisition control, exposure, identity) behind the device's port, and the trigger and
// acquisition state that its streams' clocks follow. The camera is described by an entry of the same JSON file
// the "sim" transport reads, and sends the same pictures.
#pragma once

#include "sdk/gentl/GenTL.h"
#include "sdk/sim/SimConfig.h"

#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sdk::simcti {

// Where things lie in the port's address space (little-endian registers).
namespace reg {
constexpr uint64_t kWidth = 0x0100;           // 4 bytes, read-only
constexpr uint64_t kHeight = 0x0104;          // 4 bytes, read-only
constexpr uint64_t kPayloadSize = 0x0108;     // 8 bytes, read-only
constexpr uint64_t kPixelFormat = 0x0110;     // 4 bytes, read-only: the format's PFNC code
constexpr uint64_t kTriggerMode = 0x0120;     // 4 bytes: 0 Off, 1 On
constexpr uint64_t kTriggerSource = 0x0124;   // 4 bytes: index into the camera's trigger sources
constexpr uint64_t kTriggerSoftware = 0x0128; // 4 bytes, command: write 1
constexpr uint64_t kAcquisitionStart = 0x012C;
constexpr uint64_t kAcquisitionStop = 0x0130;
constexpr uint64_t kAcquisitionAbort = 0x0134;
constexpr uint64_t kExposure = 0x0140;     // 8 bytes, IEEE double, microseconds
constexpr uint64_t kVendorName = 0x0200;   // 64 bytes of text each
constexpr uint64_t kModelName = 0x0240;    //
constexpr uint64_t kSerialNumber = 0x0280; //
constexpr uint64_t kRegistersEnd = 0x02C0;
constexpr uint64_t kStringLength = 64;
constexpr uint64_t kDescription = 0x100000; // the GenICam description, as many bytes as it has
} // namespace reg

constexpr const char* kVendor = "Veyra";

// Where the port's URL says the GenICam description is: in the port's registers ("Local:") or in a file of the
// producer's ("File:"), as the document itself or zipped, as makers ship it.
enum class DescriptionForm : uint8_t { Local, LocalZip, File, FileZip };

// The pixel format a buffer reports: its code and the code's namespace, or nothing at all.
struct BufferFormat {
    bool given = true;
    uint64_t code = 0;
    uint64_t space = PIXELFORMAT_NAMESPACE_PFNC_32BIT;
};

// How the producer behaves beyond the camera file, for consumers' tests; read from the environment when the
// system opens:
// - VXCAM_SIM_CTI_DESCRIPTION: "local" (the default), "local-zip", "file" or "file-zip";
// - VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT: every second frame (an odd count of frames after the first ID) reports
//   this pixel format in its buffer instead of the camera's: a format name ("Mono8"), a code with its namespace
//   ("0x01080001/4", the namespace PFNC's when left out), or "none" (the buffer reports no pixel format). The
//   pixels stay the camera's.
struct ProducerSettings {
    DescriptionForm description = DescriptionForm::Local;
    std::optional<BufferFormat> alternateFormat;
};
// The settings the environment gives; nothing, with `error` saying why, for a value they do not take.
[[nodiscard]] std::optional<ProducerSettings> settingsFromEnvironment(std::string& error);

class SimCtiCamera {
public:
    using Clock = std::chrono::steady_clock;

    // A file form writes the description into a folder of its own, removed with the camera; when that fails the
    // port serves it in its registers instead.
    explicit SimCtiCamera(sim::SimDeviceConfig config, ProducerSettings settings = {});
    ~SimCtiCamera();
    SimCtiCamera(const SimCtiCamera&) = delete;
    SimCtiCamera& operator=(const SimCtiCamera&) = delete;

    [[nodiscard]] const sim::SimDeviceConfig& config() const noexcept { return m_config; }
    // The GenICam description, the URL that points at it, and what that URL names: the file's name, its size and
    // its address in the port (the file, zipped or not, lies at reg::kDescription for "Local:").
    [[nodiscard]] const std::string& description() const noexcept { return m_description; }
    [[nodiscard]] std::string descriptionUrl() const;
    [[nodiscard]] std::string descriptionFileName() const;
    [[nodiscard]] uint64_t descriptionFileSize() const noexcept { return m_descriptionFile.size(); }
    [[nodiscard]] bool descriptionInPort() const noexcept { return m_descriptionPath.empty(); }
    [[nodiscard]] uint64_t payloadSize() const noexcept { return m_nPayloadSize; }
    // The pixel format's PFNC code; 0 for a name the format table lacks.
    [[nodiscard]] uint32_t pixelFormatCode() const noexcept { return m_nPixelFormatCode; }
    // What a buffer of frame `frameId` reports as its pixel format.
    [[nodiscard]] BufferFormat bufferFormat(uint64_t frameId) const noexcept;
    // Nanoseconds since the camera was powered (the producer's system opened): frame timestamps count from here.
    [[nodiscard]] uint64_t nowNs() const noexcept;

    // Port access. Reads may span several registers of the register block, or lie within the description;
    // writes must hit one writable register whole. Thread-safe.
    GC_ERROR readPort(uint64_t address, void* buffer, size_t size);
    GC_ERROR writePort(uint64_t address, const void* data, size_t size);

    // One frame of the camera's picture, rendered on first use; empty when it cannot be had (memory).
    // Thread-safe; fixed once made.
    const std::vector<unsigned char>& picture();

    // The trigger and acquisition state the streams' clocks follow. The mutex guards it and every stream's
    // queues of this camera (the clocks and the consumer's threads meet there); `wake` is notified on every
    // change of either.
    struct Trigger {
        bool running = false;          // "AcquisitionStart" executed, no stop since
        bool on = false;               // "TriggerMode" is "On"
        std::string source;            //
        uint64_t softwareTriggers = 0; // software triggers accepted so far
        uint64_t generation = 0;       // raised on every change that may alter a clock's schedule
    };
    std::mutex mutex;
    std::condition_variable wake;
    Trigger trigger; // guarded by mutex

    [[nodiscard]] bool softwareSource() const {
        return trigger.source == "Software" || trigger.source == "SoftwareTrigger";
    }

private:
    // Whether a feature is there, can be written and is available, as the file describes it.
    enum class Presence : uint8_t { Absent, NotAvailable, ReadOnly, Writable };
    [[nodiscard]] Presence presence(const std::string& feature) const;
    [[nodiscard]] std::vector<unsigned char> registerBlock() const; // with mutex held
    GC_ERROR writeRegister(uint64_t address, const unsigned char* data, size_t size);
    void changed(); // with mutex held
    void writeDescriptionFile();

    const sim::SimDeviceConfig m_config;
    const uint64_t m_nPayloadSize;
    const uint32_t m_nPixelFormatCode;
    const Clock::time_point m_powerOn;
    const std::optional<BufferFormat> m_alternateFormat;
    const std::string m_description;
    const bool m_bZipped;
    std::string m_descriptionFile;           // the description as the URL names it: the document or its archive
    std::unique_ptr<QTemporaryDir> m_folder; // holds the file of a file form
    std::string m_descriptionPath;           // that file; empty when the port serves the description
    double m_exposure;                       // guarded by mutex
    std::once_flag m_pictureOnce;
    std::vector<unsigned char> m_picture;
};

// The GenICam description of a camera configured so (exposed for tests of the description itself).
[[nodiscard]] std::string describeCamera(const sim::SimDeviceConfig& config, uint32_t pixelFormatCode);
// Bytes of one frame of the configured camera (as the "sim" transport computes them).
[[nodiscard]] uint64_t payloadSizeOf(const sim::SimDeviceConfig& config);

} // namespace sdk::simcti
