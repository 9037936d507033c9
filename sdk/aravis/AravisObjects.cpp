#include "sdk/aravis/AravisObjects.h"

#include "sdk/SdkExceptions.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace sdk::aravis {

Q_LOGGING_CATEGORY(lcAravisCategory, "vxcam.aravis")

const QLoggingCategory& lcAravis() {
    return lcAravisCategory();
}

namespace {

class BackgroundRelease {
public:
    BackgroundRelease() = default;
    BackgroundRelease(const BackgroundRelease&) = delete;
    BackgroundRelease& operator=(const BackgroundRelease&) = delete;
    ~BackgroundRelease() {
        {
            const std::lock_guard lock(m_mutex);
            m_bEnding = true;
        }
        m_wake.notify_all();
        if (m_worker.joinable()) {
            m_worker.join();
        }
    }

    void add(gpointer object) {
        const std::lock_guard lock(m_mutex);
        m_pending.push_back(object);
        if (!m_worker.joinable()) {
            m_worker = std::thread([this] { run(); });
        }
        m_wake.notify_all();
    }

private:
    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_bEnding || !m_pending.empty(); });
            if (m_pending.empty()) {
                return;
            }
            gpointer object = m_pending.front();
            m_pending.pop_front();
            lock.unlock();
            g_object_unref(object);
            lock.lock();
        }
    }

    // Guards m_pending and m_bEnding: host threads add, the worker takes.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<gpointer> m_pending;
    bool m_bEnding = false;
    std::thread m_worker; // started with the first release; joined at unload, after the pending releases
};

} // namespace

void releaseInBackground(gpointer object) {
    static BackgroundRelease releases;
    if (object != nullptr) {
        releases.add(object);
    }
}

const TransportInfo& infoOf(Transport transport) noexcept {
    static const TransportInfo gev{"gev", "Aravis-GEV", "GEV", "GigEVision"};
    static const TransportInfo u3v{"u3v", "Aravis-U3V", "U3V", "USB3Vision"};
    static const TransportInfo virt{"virtual", "Aravis-Virtual", "Virtual", "Fake"};
    switch (transport) {
    case Transport::GigEVision:
        return gev;
    case Transport::Usb3Vision:
        return u3v;
    case Transport::Virtual:
        break;
    }
    return virt;
}

ArvInterface* interfaceOf(Transport transport) {
    switch (transport) {
    case Transport::GigEVision:
        return arv_gv_interface_get_instance();
    case Transport::Usb3Vision:
        return arv_uv_interface_get_instance();
    case Transport::Virtual:
        break;
    }
    return arv_fake_interface_get_instance();
}

void DeviceLink::declareLost() noexcept {
    if (!lost.exchange(true)) {
        qCWarning(lcAravis()) << "camera" << serial.c_str() << "is no longer reachable (control lost)";
    }
}

void DeviceLink::requireConnected(const char* function) const {
    if (lost.load()) {
        Exceptions::raise("NotAvailableException", function,
                          "camera " + serial + " is no longer reachable (control lost)");
    }
}

} // namespace sdk::aravis
