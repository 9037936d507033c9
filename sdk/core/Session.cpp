#include "sdk/core/Session.h"

#include "sdk/System.h"
#include "sdk/SystemList.h"
#include "sdk/core/SdkLogging.h"
#include "sdk/core/SessionSetup.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>

namespace sdk::core {
namespace {

// Guards g_session: the host's thread opens and ends sessions while delivery threads ask for the gate.
std::mutex g_sessionMutex;
std::unique_ptr<Session> g_session;
// Counts the sessions opened and ended: changed under g_sessionMutex together with g_session, read without it by
// the frame path to learn whether the gate a thread keeps is still the current one.
std::atomic<uint64_t> g_generation{0};

// The gate a thread was given last and the generation it belongs to. Each thread's own: no lock.
struct KeptGate {
    uint64_t generation = 0; // 0 with no gate: before the first session, which is what a new thread saw
    std::shared_ptr<CallGate> gate;
};
thread_local KeptGate t_keptGate;

// Set by a static initialiser while the library loads, read when a session opens (host thread).
SessionConfigurator& configurator() {
    static SessionConfigurator registered = nullptr;
    return registered;
}

// The producer names to build, in order: VXCAM_TRANSPORTS, or those the producers offer by default.
QStringList configuredTransports() {
    if (!qEnvironmentVariableIsSet("VXCAM_TRANSPORTS")) {
        QStringList defaults;
        for (const std::string& name : defaultProducers()) {
            defaults << QString::fromStdString(name);
        }
        return defaults;
    }
    QStringList names;
    for (const QString& part : qEnvironmentVariable("VXCAM_TRANSPORTS").split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        if (name.isEmpty()) {
            continue;
        }
        if (names.contains(name)) {
            qCWarning(lcSdk()) << "transport" << name << "is listed twice in VXCAM_TRANSPORTS; the second is skipped";
            continue;
        }
        names << name;
    }
    return names;
}

} // namespace

bool registerSessionConfigurator(SessionConfigurator configurator) {
    core::configurator() = configurator;
    return true;
}

Session::Session() : m_pGate(std::make_shared<CallGate>()) {
    for (const QString& name : configuredTransports()) {
        const ProducerFactory factory = findProducer(name.toStdString());
        if (factory == nullptr) {
            qCWarning(lcSdk()) << "unknown transport" << name << "in VXCAM_TRANSPORTS is skipped";
            continue;
        }
        if (std::unique_ptr<Producer> producer = factory(*m_pGate)) {
            m_producers.push_back(std::move(producer));
        }
    }
    SessionSetup setup(*m_pGate, m_producers);
    if (const SessionConfigurator configure = configurator()) {
        configure(setup);
    }
    if (setup.systemListOffered()) {
        m_pList = new SystemList(*this); // NOLINT(cppcoreguidelines-owning-memory): private destructor, freed below
    }
}

Session::~Session() {
    delete m_pList; // NOLINT(cppcoreguidelines-owning-memory)
    // Producers go in reverse order of building; each joins its own threads.
    while (!m_producers.empty()) {
        m_producers.pop_back();
    }
}

SystemList* Session::acquireList() {
    std::shared_ptr<CallGate> gate;
    SystemList* list = nullptr;
    {
        const std::lock_guard lock(g_sessionMutex);
        if (g_session == nullptr) {
            g_session.reset(new Session()); // NOLINT(cppcoreguidelines-owning-memory): private constructor
            g_generation.fetch_add(1, std::memory_order_release);
        }
        gate = g_session->m_pGate;
        list = g_session->m_pList;
    }
    gate->pass("SystemList::GetInstance", {});
    return list;
}

void Session::release() {
    std::unique_ptr<Session> ending;
    {
        const std::lock_guard lock(g_sessionMutex);
        ending = std::move(g_session);
        if (ending != nullptr) {
            g_generation.fetch_add(1, std::memory_order_release);
        }
    }
    // Destroyed outside the lock: stopping a producer joins delivery threads that may be asking for the gate.
    ending.reset();
}

std::shared_ptr<CallGate> Session::currentGate() {
    const std::lock_guard lock(g_sessionMutex);
    return g_session != nullptr ? g_session->m_pGate : nullptr;
}

CallGate* Session::frameGate() {
    KeptGate& kept = t_keptGate;
    if (kept.generation != g_generation.load(std::memory_order_acquire)) {
        // A session opened or ended since this thread last asked: take the current one's gate. The old gate is
        // let go here, outside the lock (it may be the last reference).
        std::shared_ptr<CallGate> previous;
        const std::lock_guard lock(g_sessionMutex);
        previous = std::exchange(kept.gate, g_session != nullptr ? g_session->m_pGate : nullptr);
        kept.generation = g_generation.load(std::memory_order_relaxed);
    }
    return kept.gate.get();
}

void Session::collectSystems(std::vector<std::pair<std::string, System*>>& entries) {
    for (const std::unique_ptr<Producer>& producer : m_producers) {
        for (auto& entry : producer->systems()) {
            entries.push_back(std::move(entry));
        }
    }
}

} // namespace sdk::core
