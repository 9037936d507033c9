// The door every SDK call of a session passes: it counts the call, writes the call's trace line and raises
// the injected fault that is due. Faults and the trace are configured once per session, by the session's
// configurator (SessionSetup.h), whatever the producers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sdk::core {

struct FaultRule {
    std::string call;        // SDK call name, such as "Device::Open"
    uint64_t nth = 1;        // the first matching call (1-based) that fails
    uint64_t times = 1;      // how many matching calls in a row fail; 0: every one from the nth on
    uint64_t every = 0;      // 0: once; otherwise the run of `times` failures recurs every `every` matching calls
    std::string match;       // empty, or an object name or one '/'-separated part of it (serial, feature)
    std::string description; // the exception's error description
    std::string type = "RuntimeException";
    uint64_t seen = 0; // matching calls so far
};

class CallGate : public std::enable_shared_from_this<CallGate> {
public:
    CallGate() = default;
    CallGate(const CallGate&) = delete;
    CallGate& operator=(const CallGate&) = delete;
    ~CallGate() = default;

    // Set once, before the session's first call passes. False when `tracePath` names a file that cannot be
    // opened for appending: calls are then not traced, and the caller says so.
    [[nodiscard]] bool configure(std::vector<FaultRule> rules, const std::string& tracePath);

    // True when calls are traced or faults configured: only then does a call cost more than a branch.
    [[nodiscard]] bool active() const noexcept { return m_bHasRules || m_bTracing; }

    // A call made from the host's side: counted, traced as "call<TAB>object<TAB>args[<TAB>fault]", and failed
    // when a rule says so. Thread-safe.
    void pass(std::string_view call, std::string_view object, std::string_view args = {});

    // A call of the frame path: counted and failed like pass(), never traced. Costs one branch while no rule
    // is configured. Thread-safe.
    void passUntraced(std::string_view call, std::string_view object) {
        if (m_bHasRules) {
            passSlow(call, object, {}, false);
        }
    }

private:
    void passSlow(std::string_view call, std::string_view object, std::string_view args, bool traced);
    const FaultRule* countAndFindDue(std::string_view call, std::string_view object);
    void writeTraceLine(std::string_view call, std::string_view object, std::string_view args, bool fault);

    bool m_bHasRules = false; // fixed by configure(), read without the lock afterwards
    bool m_bTracing = false;  // fixed by configure()
    // Guards the rules' counters and the trace file: calls arrive from the host's thread and from the
    // streams' delivery threads.
    std::mutex m_mutex;
    std::vector<FaultRule> m_rules; // set by configure(); afterwards only `seen` changes, under m_mutex
    struct FileCloser {
        void operator()(std::FILE* file) const noexcept {
            std::fclose(file); // NOLINT(cppcoreguidelines-owning-memory): the unique_ptr is the owner
        }
    };
    std::unique_ptr<std::FILE, FileCloser> m_pTrace; // written under m_mutex
};

} // namespace sdk::core
