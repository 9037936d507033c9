// What the Aravis producer's objects share: owning pointers for GLib objects, the transports it serves, and
// the link state of an open camera.
#pragma once

#include "sdk/aravis/AravisControl.h"

#include <QLoggingCategory>
#include <arv.h>

#include <atomic>
#include <memory>
#include <string>

namespace sdk::aravis {

// "vxcam.aravis": the Aravis producer.
const QLoggingCategory& lcAravis();

// Owns one reference of a GObject.
struct GObjectUnref {
    void operator()(gpointer object) const noexcept {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Connects `handler` to `signal` of `instance` with its own reference to `shared` as the handler's data; GLib
// drops it when the connection ends and no emission holds it any more, so a signal in emission never reaches
// freed memory. `held` is made by the caller before the thread that emits exists, so that thread finds it
// written. Returns the connection's id.
template <typename Shared>
gulong connectHolding(gpointer instance, const char* signal, GCallback handler,
                      std::unique_ptr<std::shared_ptr<Shared>> held) {
    return g_signal_connect_data(
        instance, signal, handler, held.release(),
        [](gpointer data, GClosure*) {
            delete static_cast<std::shared_ptr<Shared>*>(data); // NOLINT(cppcoreguidelines-owning-memory)
        },
        GConnectFlags{});
}

// Drops one reference of `object` on a thread of its own: when a camera is lost, Aravis's last release of
// its stream and device still talks to it and waits out every timeout (seconds), which no stop or close of
// the host may wait for. Releases run in the order given; the thread ends when the process unloads the SDK.
void releaseInBackground(gpointer object);

// The transports the producer serves; each is one producer with one system and one Aravis interface.
enum class Transport { GigEVision, Usb3Vision, Virtual };

struct TransportInfo {
    const char* producerName; // the name in VXCAM_TRANSPORTS
    const char* systemId;     // the system's key in the system list
    const char* tlType;       // System::GetTLType
    const char* interfaceId;  // Aravis's name of the interface
};
[[nodiscard]] const TransportInfo& infoOf(Transport transport) noexcept;
// Aravis's singleton interface object of the transport (owned by Aravis).
[[nodiscard]] ArvInterface* interfaceOf(Transport transport);

// State of an open camera that its features and streams share with Aravis's own threads.
struct DeviceLink {
    std::string serial;
    // Set by Aravis's control-lost signal, on Aravis's heartbeat or USB thread; read by every thread. Once
    // set, the producer makes no further control call to the camera (each would wait for its timeout).
    std::atomic<bool> lost{false};
    // Every call that talks to the camera runs here. A GigE Vision camera's link gets a channel with a thread and
    // a deadline before the camera is opened (the open runs on it too); other links (and the GenTL producer's,
    // which shares the feature map) run their calls in place. Never replaced once the camera is open.
    // Thread-safe.
    std::shared_ptr<ControlChannel> control =
        std::make_shared<ControlChannel>(std::string(), ControlChannel::Runs::OnTheCallersThread);

    // Raises the SDK error for a call on a camera that is gone.
    void requireConnected(const char* function) const;
    // Marks the camera as gone and says so, once, whoever noticed it first (Aravis's heartbeat or the control
    // channel's watch). Any thread.
    void declareLost() noexcept;
    // True when a control call would not be answered now: the camera is lost, or silent (its channel says why).
    // Teardown then sends the camera nothing and leaves its last releases to other threads.
    [[nodiscard]] bool silent() const noexcept { return lost.load() || control->silent(); }
};

} // namespace sdk::aravis
