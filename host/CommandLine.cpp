#include "host/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace vxcam::host {
namespace {

struct TriggerEntry {
    const char* name;
    AcqTriggerMode mode;
};

constexpr std::array<TriggerEntry, 5> kTriggers{{
    {"line", LineTrigger},
    {"freerun", FreeRun},
    {"freerun-reset", FreeRunResetFrameId},
    {"soft", SoftTrigger},
    {"idle", Idle},
}};

QString triggerNames() {
    QStringList names;
    for (const TriggerEntry& entry : kTriggers) {
        names << QLatin1String(entry.name);
    }
    return names.join(QStringLiteral(", "));
}

QString toolHelp() {
    return QStringLiteral(
        "vxcam - checks a camera and the vxCam_160 module, the way a machine-vision host uses them.\n"
        "\n"
        "Usage: vxcam COMMAND [OPTIONS]\n"
        "\n"
        "Commands:\n"
        "  list    the cameras the module can reach, one identifier a line\n"
        "  grab    opens one camera, acquires frames, saves pictures and prints a summary\n"
        "  demo    grabs from the built-in simulated cameras into ./vxcam-demo/ (no set-up needed)\n"
        "\n"
        "'vxcam COMMAND --help' describes a command's options.\n"
        "\n"
        "Exit codes: 0 success, 1 internal error, 2 bad usage, 3 module not loadable, 4 camera not found or\n"
        "not opened, 5 start failed, 6 too few frames in time, 7 output not writable.\n");
}

QString commonHelp() {
    return QStringLiteral("  --module-dir DIR     load vxCam_160 from DIR (default: the folder of this binary)\n"
                          "  --verbose            show every log line of the module\n"
                          "  -h, --help           this help\n");
}

QString listHelp() {
    return QStringLiteral("Usage: vxcam list [--json] [--module-dir DIR]\n"
                          "\n"
                          "Prints the identifiers of the cameras the module lists, one a line.\n"
                          "\n"
                          "Options:\n"
                          "  --json               a JSON object {\"cameras\": [...]} instead\n") +
           commonHelp();
}

QString grabHelp() {
    return QStringLiteral(
               "Usage: vxcam grab --camera ID [OPTIONS]\n"
               "\n"
               "Opens the camera, writes the exposure, starts it in the chosen trigger mode, collects\n"
               "frames, stops and closes it, then prints a summary: frames received, frame rate,\n"
               "frame-ID gaps (lost frames), the camera's pixel format and what the host received.\n"
               "\n"
               "Options:\n"
               "  --camera ID          the camera as 'vxcam list' shows it (\"veyra SN1001\"), or its serial\n"
               "  --trigger MODE       line, freerun, freerun-reset, soft or idle (default freerun);\n"
               "                       soft fires one software trigger per frame\n"
               "  --exposure US        exposure time in microseconds\n"
               "  --frames N           stop after N frames (default 10, when --duration is not given)\n"
               "  --duration S         stop after S seconds (default for idle: 1); with --frames,\n"
               "                       N frames must arrive within S seconds\n"
               "  --timeout S          with --frames only: give up when no frame came for S seconds\n"
               "                       (default 5)\n"
               "  --save DIR           write frames as PNG into DIR (made if missing), and a contact\n"
               "                       sheet of sampled frames, DIR/contact-sheet.png\n"
               "  --every K            with --save: write every K-th frame (default 1)\n"
               "  --json               the summary as JSON\n") +
           commonHelp() +
           QStringLiteral("\nExit codes: 0 success, 2 bad usage, 3 module not loadable, 4 camera not found or not\n"
                          "opened, 5 start failed, 6 too few frames in time, 7 output not writable.\n");
}

QString demoHelp() {
    return QStringLiteral(
               "Usage: vxcam demo [--out DIR] [--json]\n"
               "\n"
               "Grabs from the built-in simulated cameras (Bayer, YUV, mono and RGB, each in another trigger\n"
               "mode) and writes their pictures and a contact sheet of all of them into ./vxcam-demo/.\n"
               "Needs no camera and no set-up: the simulated configuration ships beside this binary.\n"
               "\n"
               "Options:\n"
               "  --out DIR            write into DIR instead of ./vxcam-demo\n"
               "  --json               the summaries as one JSON object\n") +
           commonHelp();
}

// The options of one command, and the checks of their values.
class OptionReader {
public:
    // `arguments`: the program name, then the command's options.
    OptionReader(QString command, QStringList arguments)
        : m_command(std::move(command)), m_arguments(std::move(arguments)) {
        m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        add({QStringLiteral("h"), QStringLiteral("help")});
        add(QStringLiteral("module-dir"), true);
        add(QStringLiteral("verbose"));
        add(QStringLiteral("json"));
    }

    void add(const QString& name, bool takesValue = false) { add(QStringList{name}, takesValue); }
    void add(const QStringList& names, bool takesValue = false) {
        QCommandLineOption option(names);
        if (takesValue) {
            option.setValueName(QStringLiteral("value"));
        }
        m_parser.addOption(option);
    }

    // False, with the error set, when the arguments do not parse or name something extra.
    bool parse() {
        if (!m_parser.parse(m_arguments)) {
            fail(m_parser.errorText());
            return false;
        }
        if (!m_parser.positionalArguments().isEmpty()) {
            fail(QStringLiteral("unexpected argument '%1'").arg(m_parser.positionalArguments().constFirst()));
            return false;
        }
        return true;
    }

    [[nodiscard]] bool isSet(const QString& name) const { return m_parser.isSet(name); }
    [[nodiscard]] QString value(const QString& name) const { return m_parser.value(name); }

    [[nodiscard]] CommonOptions common() const {
        CommonOptions options;
        options.moduleDir = value(QStringLiteral("module-dir"));
        options.json = isSet(QStringLiteral("json"));
        options.verbose = isSet(QStringLiteral("verbose"));
        return options;
    }

    // A whole number in [min, max], or nothing with the error set.
    std::optional<int64_t> integer(const QString& name, int64_t min, int64_t max) {
        bool ok = false;
        const qlonglong number = value(name).toLongLong(&ok);
        if (!ok || number < min || number > max) {
            fail(QStringLiteral("--%1 '%2' is not a whole number from %3 to %4")
                     .arg(name, value(name))
                     .arg(min)
                     .arg(max));
            return std::nullopt;
        }
        return number;
    }

    // A number of seconds in (0, max], or nothing with the error set.
    std::optional<double> seconds(const QString& name, double max) {
        bool ok = false;
        const double number = value(name).toDouble(&ok);
        if (!ok || !std::isfinite(number) || number <= 0.0 || number > max) {
            fail(QStringLiteral("--%1 '%2' is not a number of seconds above 0 and up to %3")
                     .arg(name, value(name))
                     .arg(max));
            return std::nullopt;
        }
        return number;
    }

    // A value that must not be empty.
    std::optional<QString> text(const QString& name) {
        const QString given = value(name);
        if (given.trimmed().isEmpty()) {
            fail(QStringLiteral("--%1 needs a value").arg(name));
            return std::nullopt;
        }
        return given;
    }

    void fail(const QString& message) {
        if (m_error.isEmpty()) {
            m_error = message;
        }
    }
    [[nodiscard]] bool failed() const { return !m_error.isEmpty(); }
    [[nodiscard]] UsageError error() const { return {m_error, m_command}; }

private:
    QString m_command;
    QStringList m_arguments;
    QCommandLineParser m_parser;
    QString m_error;
};

std::optional<AcqTriggerMode> triggerFrom(const QString& name) {
    for (const TriggerEntry& entry : kTriggers) {
        if (name == QLatin1String(entry.name)) {
            return entry.mode;
        }
    }
    return std::nullopt;
}

constexpr int64_t kMaxFrames = 100'000'000;
constexpr double kMaxDurationS = 86400.0;
constexpr double kMaxTimeoutS = 3600.0;

ParsedCommand parseList(OptionReader& reader) {
    if (!reader.parse()) {
        return reader.error();
    }
    if (reader.isSet(QStringLiteral("help"))) {
        return HelpRequest{listHelp()};
    }
    return ListOptions{reader.common()};
}

void readGrabValues(OptionReader& reader, GrabOptions& options) {
    if (!reader.isSet(QStringLiteral("camera"))) {
        reader.fail(QStringLiteral("grab needs --camera ID ('vxcam list' shows the identifiers)"));
    } else if (const std::optional<QString> camera = reader.text(QStringLiteral("camera"))) {
        options.camera = camera->trimmed();
    }
    if (reader.isSet(QStringLiteral("trigger"))) {
        const QString name = reader.value(QStringLiteral("trigger"));
        if (const std::optional<AcqTriggerMode> mode = triggerFrom(name)) {
            options.trigger = *mode;
        } else {
            reader.fail(
                QStringLiteral("--trigger '%1' is not a trigger mode; use one of %2").arg(name, triggerNames()));
        }
    }
    if (reader.isSet(QStringLiteral("exposure"))) {
        if (const auto us = reader.integer(QStringLiteral("exposure"), 1, std::numeric_limits<int32_t>::max())) {
            options.exposureUs = static_cast<int32_t>(*us);
        }
    }
    if (reader.isSet(QStringLiteral("frames"))) {
        options.frames = reader.integer(QStringLiteral("frames"), 1, kMaxFrames);
    }
    if (reader.isSet(QStringLiteral("duration"))) {
        options.durationS = reader.seconds(QStringLiteral("duration"), kMaxDurationS);
    }
    if (reader.isSet(QStringLiteral("timeout"))) {
        options.timeoutS = reader.seconds(QStringLiteral("timeout"), kMaxTimeoutS).value_or(options.timeoutS);
    }
    if (reader.isSet(QStringLiteral("save"))) {
        options.saveDir = reader.text(QStringLiteral("save")).value_or(QString());
    }
    if (reader.isSet(QStringLiteral("every"))) {
        if (!reader.isSet(QStringLiteral("save"))) {
            reader.fail(QStringLiteral("--every only applies with --save DIR"));
        }
        options.every = reader.integer(QStringLiteral("every"), 1, kMaxFrames).value_or(options.every);
    }
}

ParsedCommand parseGrab(OptionReader& reader) {
    for (const char* name : {"camera", "trigger", "exposure", "frames", "duration", "timeout", "save", "every"}) {
        reader.add(QLatin1String(name), true);
    }
    if (!reader.parse()) {
        return reader.error();
    }
    if (reader.isSet(QStringLiteral("help"))) {
        return HelpRequest{grabHelp()};
    }
    GrabOptions options;
    options.common = reader.common();
    readGrabValues(reader, options);
    if (reader.failed()) {
        return reader.error();
    }
    if (!options.frames && !options.durationS) {
        if (options.trigger == Idle) {
            options.durationS = kIdleDefaultDurationS;
        } else {
            options.frames = kDefaultFrames;
        }
    }
    return options;
}

ParsedCommand parseDemo(OptionReader& reader) {
    reader.add(QStringLiteral("out"), true);
    if (!reader.parse()) {
        return reader.error();
    }
    if (reader.isSet(QStringLiteral("help"))) {
        return HelpRequest{demoHelp()};
    }
    DemoOptions options;
    options.common = reader.common();
    if (reader.isSet(QStringLiteral("out"))) {
        options.outDir = reader.text(QStringLiteral("out")).value_or(QString());
    }
    if (reader.failed()) {
        return reader.error();
    }
    return options;
}

} // namespace

QString triggerName(AcqTriggerMode mode) {
    for (const TriggerEntry& entry : kTriggers) {
        if (entry.mode == mode) {
            return QLatin1String(entry.name);
        }
    }
    return QStringLiteral("idle");
}

ParsedCommand parseCommandLine(const QStringList& arguments) {
    if (arguments.size() < 2) {
        return UsageError{QStringLiteral("no command given"), {}};
    }
    const QString& command = arguments.at(1);
    if (command == QLatin1String("-h") || command == QLatin1String("--help")) {
        return HelpRequest{toolHelp()};
    }
    if (command == QLatin1String("help")) {
        // "vxcam help grab" is "vxcam grab --help".
        if (arguments.size() == 2) {
            return HelpRequest{toolHelp()};
        }
        return parseCommandLine({arguments.at(0), arguments.at(2), QStringLiteral("--help")});
    }
    // The command's own parser sees the program name where it expects it, then the command's options.
    QStringList rest = arguments.mid(2);
    rest.prepend(arguments.at(0));
    OptionReader reader(command, rest);
    if (command == QLatin1String("list")) {
        return parseList(reader);
    }
    if (command == QLatin1String("grab")) {
        return parseGrab(reader);
    }
    if (command == QLatin1String("demo")) {
        return parseDemo(reader);
    }
    if (command.startsWith(QLatin1Char('-'))) {
        return UsageError{QStringLiteral("the command comes first, before option '%1'").arg(command), {}};
    }
    return UsageError{QStringLiteral("unknown command '%1'; the commands are list, grab and demo").arg(command), {}};
}

} // namespace vxcam::host
