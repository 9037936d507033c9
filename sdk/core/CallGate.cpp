#include "sdk/core/CallGate.h"

#include "sdk/SdkExceptions.h"

#include <algorithm>

namespace sdk::core {
namespace {

bool objectMatches(std::string_view object, std::string_view match) {
    if (match.empty() || object == match) {
        return true;
    }
    std::size_t start = 0;
    while (start <= object.size()) {
        const std::size_t slash = object.find('/', start);
        const std::size_t end = slash == std::string_view::npos ? object.size() : slash;
        if (object.substr(start, end - start) == match) {
            return true;
        }
        if (slash == std::string_view::npos) {
            break;
        }
        start = slash + 1;
    }
    return false;
}

// One trace field: tabs, line breaks and backslashes are escaped so that every call stays one line.
void appendField(std::string& line, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\\':
            line += "\\\\";
            break;
        default:
            line += c;
        }
    }
}

} // namespace

bool CallGate::configure(std::vector<FaultRule> rules, const std::string& tracePath) {
    const std::lock_guard lock(m_mutex);
    m_rules = std::move(rules);
    m_bHasRules = !m_rules.empty();
    if (!tracePath.empty()) {
        m_pTrace.reset(std::fopen(tracePath.c_str(), "ae")); // NOLINT(cppcoreguidelines-owning-memory)
    }
    m_bTracing = m_pTrace != nullptr;
    return tracePath.empty() || m_bTracing;
}

void CallGate::pass(std::string_view call, std::string_view object, std::string_view args) {
    if (m_bHasRules || m_bTracing) {
        passSlow(call, object, args, true);
    }
}

void CallGate::passSlow(std::string_view call, std::string_view object, std::string_view args, bool traced) {
    std::string type;
    std::string description;
    {
        const std::lock_guard lock(m_mutex);
        const FaultRule* due = countAndFindDue(call, object);
        if (traced && m_pTrace != nullptr) {
            writeTraceLine(call, object, args, due != nullptr);
        }
        if (due == nullptr) {
            return;
        }
        type = due->type;
        description = due->description;
    }
    Exceptions::raise(type.c_str(), std::string(call).c_str(), description);
}

const FaultRule* CallGate::countAndFindDue(std::string_view call, std::string_view object) {
    const FaultRule* due = nullptr;
    for (FaultRule& rule : m_rules) {
        if (rule.call != call || !objectMatches(object, rule.match)) {
            continue;
        }
        ++rule.seen;
        const bool started = rule.seen >= rule.nth;
        // A recurring rule (every > 0) fails `times` calls (at least one) from the nth on, every `every` calls.
        const bool within = rule.every != 0
                                ? started && (rule.seen - rule.nth) % rule.every < std::max<uint64_t>(rule.times, 1)
                                : rule.times == 0 || rule.seen < rule.nth + rule.times;
        if (due == nullptr && started && within) {
            due = &rule;
        }
    }
    return due;
}

void CallGate::writeTraceLine(std::string_view call, std::string_view object, std::string_view args, bool fault) {
    std::string line;
    line.reserve(64);
    appendField(line, call);
    line += '\t';
    appendField(line, object.empty() ? std::string_view("-") : object);
    line += '\t';
    appendField(line, args);
    if (fault) {
        line += "\tfault";
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), m_pTrace.get());
    std::fflush(m_pTrace.get());
}

} // namespace sdk::core
