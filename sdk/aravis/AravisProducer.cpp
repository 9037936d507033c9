// The Aravis transports: "gev" (GigE Vision), "u3v" (USB3 Vision) and "virtual" (Aravis's in-process fake
// camera: no network, no privileges).
//
// GigE Vision discovery broadcasts on every network interface, so it runs only while a "gev" producer exists:
// Aravis's GigE Vision interface is disabled for the process otherwise, and no other producer ever asks that
// interface anything.
#include "sdk/aravis/AravisObjects.h"
#include "sdk/aravis/AravisSystem.h"
#include "sdk/core/Producer.h"

#include <mutex>

namespace sdk::aravis {
namespace {

// Counts the "gev" producers alive, and keeps Aravis's GigE Vision interface enabled exactly while one is.
// Sessions are opened and ended on the host's thread; the mutex makes the count safe all the same.
class GigEVisionSwitch {
public:
    static void acquire() { change(+1); }
    static void release() { change(-1); }
    // Disables the interface unless a "gev" producer is alive: Aravis enables it when it loads.
    static void confirm() { change(0); }

private:
    static void change(int delta) {
        static std::mutex mutex;
        static int users = 0;
        const std::lock_guard lock(mutex);
        users += delta;
        if (users > 0) {
            arv_enable_interface(infoOf(Transport::GigEVision).interfaceId);
        } else {
            arv_disable_interface(infoOf(Transport::GigEVision).interfaceId);
        }
    }
};

class AravisProducer final : public core::Producer {
public:
    AravisProducer(core::CallGate& gate, Transport transport) : m_transport(transport) {
        if (transport == Transport::GigEVision) {
            GigEVisionSwitch::acquire();
        } else {
            GigEVisionSwitch::confirm();
        }
        m_pSystem = std::make_unique<AravisSystem>(gate, transport);
    }
    ~AravisProducer() override {
        m_pSystem.reset();
        if (m_transport == Transport::GigEVision) {
            GigEVisionSwitch::release();
        }
    }

    std::vector<std::pair<std::string, System*>> systems() override {
        return {{infoOf(m_transport).systemId, m_pSystem.get()}};
    }

private:
    Transport m_transport;
    std::unique_ptr<AravisSystem> m_pSystem;
};

template <Transport kTransport>
std::unique_ptr<core::Producer> makeProducer(core::CallGate& gate) {
    return std::make_unique<AravisProducer>(gate, kTransport);
}

// Runs while the library loads, where an exception could not be caught: a failed registration (no memory)
// leaves the transports unknown instead.
bool registerTransports() noexcept {
    try {
        // Without VXCAM_TRANSPORTS, USB3 Vision cameras are offered first: they are found without sending anything
        // on a network. GigE Vision runs only when named.
        return core::registerProducer("gev", &makeProducer<Transport::GigEVision>) &&
               core::registerProducer("u3v", &makeProducer<Transport::Usb3Vision>, core::DefaultOffer{0, nullptr}) &&
               core::registerProducer("virtual", &makeProducer<Transport::Virtual>);
    } catch (...) {
        return false;
    }
}

const bool g_registered = registerTransports();

} // namespace
} // namespace sdk::aravis
