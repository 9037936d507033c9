#include "sdk/core/Session.h"

#include "sdk/System.h"
#include "sdk/SystemList.h"
#include "sdk/core/ConfigReader.h"
#include "sdk/core/SdkLogging.h"

#include <QStringList>

#include <mutex>

namespace sdk::core {
namespace {

// Guards g_session: the host's thread opens and ends sessions while delivery threads ask for the gate.
std::mutex g_sessionMutex;
std::unique_ptr<Session> g_session;

// The producer names to build, in order: VXCAM_TRANSPORTS, or "sim" when only VXCAM_SIM_CONFIG is set.
QStringList configuredTransports() {
    if (!qEnvironmentVariableIsSet("VXCAM_TRANSPORTS")) {
        // USB3 Vision cameras are found without sending anything on a network; GigE Vision only when named.
        QStringList defaults{QStringLiteral("u3v")};
        if (!qEnvironmentVariableIsEmpty("VXCAM_SIM_CONFIG")) {
            defaults << QStringLiteral("sim");
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

// The session's faults and trace, whatever the producers: the "faults" list of the file VXCAM_SIM_CONFIG names,
// and the trace file VXCAM_SIM_TRACE names. A file that cannot be used is warned about once: by the producer
// that read it already, or here.
void configureGate(CallGate& gate, bool fileProblemReported) {
    const std::string tracePath = qEnvironmentVariable("VXCAM_SIM_TRACE").toStdString();
    const QString path = qEnvironmentVariable("VXCAM_SIM_CONFIG");
    std::vector<FaultRule> rules;
    if (!path.isEmpty()) {
        QString error;
        if (std::optional<std::vector<FaultRule>> loaded = loadFaultRules(path, error)) {
            rules = std::move(*loaded);
        } else if (!fileProblemReported) {
            qCWarning(lcSdk()).noquote() << "fault file" << path << "-" << error << "- no faults are injected";
        }
    }
    gate.configure(std::move(rules), tracePath);
}

} // namespace

Session::Session() : m_pGate(std::make_shared<CallGate>()) {
    bool nullList = false;
    bool fileProblemReported = false;
    for (const QString& name : configuredTransports()) {
        const ProducerFactory factory = findProducer(name.toStdString());
        if (factory == nullptr) {
            qCWarning(lcSdk()) << "unknown transport" << name << "in VXCAM_TRANSPORTS is skipped";
            continue;
        }
        if (std::unique_ptr<Producer> producer = factory(*m_pGate)) {
            nullList = nullList || producer->answersNullSystemList();
            fileProblemReported = fileProblemReported || producer->reportedConfigurationProblem();
            m_producers.push_back(std::move(producer));
        }
    }
    configureGate(*m_pGate, fileProblemReported);
    if (!nullList) {
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
    }
    // Destroyed outside the lock: stopping a producer joins delivery threads that may be asking for the gate.
    ending.reset();
}

std::shared_ptr<CallGate> Session::currentGate() {
    const std::lock_guard lock(g_sessionMutex);
    return g_session != nullptr ? g_session->m_pGate : nullptr;
}

void Session::collectSystems(std::vector<std::pair<std::string, System*>>& entries) {
    for (const std::unique_ptr<Producer>& producer : m_producers) {
        for (auto& entry : producer->systems()) {
            entries.push_back(std::move(entry));
        }
    }
}

} // namespace sdk::core
