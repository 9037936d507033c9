#include "host/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>

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
        "       vxcam --version\n"
        "\n"
        "Commands:\n"
        "  list    the cameras the module can reach, one identifier a line\n"
        "  info    one camera's model, serial, pixel formats, trigger sources and exposure limits\n"
        "  grab    opens one camera, acquires frames, saves pictures and prints a summary\n"
        "  view    a window showing one camera live, with its controls\n"
        "  demo    grabs from the built-in simulated cameras into ./vxcam-demo/ (no set-up needed)\n"
        "  check   this host's settings that GigE Vision and USB3 Vision cameras need, and what to change\n"
        "\n"
        "'vxcam COMMAND --help' describes a command's options.\n"
        "\n"
        "Exit codes: 0 success, 1 internal error, 2 bad usage, 3 module not loadable, 4 camera not found or\n"
        "not opened (also: list found none), 5 start failed, 6 too few frames in time, 7 output not\n"
        "writable, 8 the camera refused a setting, 9 host settings to change (check), 130 interrupted (Ctrl-C or\n"
        "SIGTERM).\n");
}

QString commonHelp() {
    return QStringLiteral("  --module-dir DIR     load vxCam_160 from DIR (default: the folder of this binary)\n"
                          "  --verbose            show every log line of the module\n"
                          "  -h, --help           this help\n");
}

QString listHelp() {
    return QStringLiteral("Usage: vxcam list [--json] [--module-dir DIR]\n"
                          "\n"
                          "Prints the identifiers of the cameras the module lists, one a line. Exits with 4 when\n"
                          "it lists none.\n"
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
               "                       number alone when no other camera has it\n"
               "  --trigger MODE       line, freerun, freerun-reset, soft or idle (default freerun);\n"
               "                       soft fires one software trigger per frame\n"
               "  --exposure US        exposure time in microseconds; a value the camera refuses, or a\n"
               "                       camera without an exposure feature, ends the run with exit code 8\n"
               "  --pixel-format NAME  the camera's pixel format (as 'vxcam info' lists them, such as\n"
               "                       BayerRG8); one the camera does not offer ends the run with exit code 8\n"
               "  --packet-size BYTES  a GigE Vision camera's stream packet size (the IP packet, headers\n"
               "                       included), kept instead of the size the module negotiates; above the\n"
               "                       interface's MTU the module warns; a camera without one, or a size it\n"
               "                       refuses, ends the run with exit code 8\n"
               "  --frames N           stop after N frames (default 10, when --duration is not given)\n"
               "  --duration S         stop after S seconds (default for idle: 1); with --frames,\n"
               "                       N frames must arrive within S seconds\n"
               "  --timeout S          give up when no frame came for S seconds (default 5 with --frames\n"
               "                       alone; none with --duration)\n"
               "  --save DIR           write frames as PNG into DIR (made if missing), and a contact\n"
               "                       sheet of sampled frames, DIR/contact-sheet.png; a picture that\n"
               "                       cannot be written whole is left out and counted as not saved\n"
               "  --every K            with --save: write every K-th frame (default 1). Frames wait in\n"
               "                       memory (up to 2 GiB) while pictures are written; past that, frames\n"
               "                       go unsaved: save fewer (--every) or pace the camera (--trigger soft)\n"
               "  --json               the summary as JSON\n") +
           commonHelp() +
           QStringLiteral("\nCtrl-C or SIGTERM stops the camera and prints the summary so far.\n"
                          "\nExit codes: 0 success, 2 bad usage, 3 module not loadable, 4 camera not found or not\n"
                          "opened, 5 start failed, 6 too few frames in time, 7 output not writable or frames\n"
                          "asked for not saved, 8 the camera refused the exposure or the pixel format, 130\n"
                          "interrupted.\n");
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

QString infoHelp() {
    return QStringLiteral("Usage: vxcam info CAMERA [--json]\n"
                          "\n"
                          "Opens the camera and prints what the SDK layer reports of it: model, serial, pixel format,\n"
                          "frame size, the pixel formats it offers, its trigger sources, its exposure feature and\n"
                          "limits. CAMERA as 'vxcam list' shows it, or its serial number alone.\n"
                          "\n"
                          "Options:\n"
                          "  --json               a JSON object instead\n") +
           commonHelp();
}

QString checkHelp() {
    return QStringLiteral("Usage: vxcam check [--interface IF] [--json]\n"
                          "\n"
                          "Inspects this host's settings that GigE Vision and USB3 Vision cameras need and prints\n"
                          "what to change: the socket receive buffer limit (net.core.rmem_max), reverse-path\n"
                          "filtering and the MTU of each network interface, whether this process may open packet\n"
                          "sockets, and whether this user may open each USB3 Vision camera attached. Exits with 9\n"
                          "when a setting should change. Loads no module and sends nothing.\n"
                          "\n"
                          "Options:\n"
                          "  --interface IF       check only the interface IF (the one the cameras are on)\n"
                          "  --json               a JSON object instead\n") +
           commonHelp();
}

QString viewHelp() {
    return QStringLiteral("Usage: vxcam view [--camera ID] [OPTIONS]\n"
                          "\n"
                          "A window showing the camera live, scaled to the window, with frame rate, frame ID, lost\n"
                          "frames, pixel format and size in its status bar; controls for the trigger mode, the\n"
                          "software trigger and the exposure; Snapshot writes the frame shown as PNG.\n"
                          "\n"
                          "Options:\n"
                          "  --camera ID          the camera (default: the first one listed)\n"
                          "  --trigger MODE       the trigger mode to start in (default freerun)\n"
                          "  --exposure US        the exposure to start with, in microseconds\n"
                          "  --pixel-format NAME  the camera's pixel format (as 'vxcam info' lists them)\n"
                          "  --snapshot-dir DIR   where Snapshot writes (default: the current folder)\n"
                          "  --quit-after N       for scripts: close after N frames were shown\n"
                          "  --window-shot FILE   with --quit-after: first write the window's picture to FILE\n") +
           commonHelp() +
           QStringLiteral("\nCtrl+Q or closing the window ends it; Ctrl-C or SIGTERM in its terminal end it with exit\n"
                          "code 130. The viewer prints no JSON.\n");
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

    // False, with the error set, when the arguments do not parse or name more than `positional` arguments
    // besides the options.
    bool parse(int positional = 0) {
        if (!m_parser.parse(m_arguments)) {
            fail(m_parser.errorText());
            return false;
        }
        if (m_parser.positionalArguments().size() > positional) {
            fail(QStringLiteral("unexpected argument '%1'").arg(m_parser.positionalArguments().at(positional)));
            return false;
        }
        return true;
    }
    [[nodiscard]] QStringList positional() const { return m_parser.positionalArguments(); }

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
    [[nodiscard]] UsageError error() const {
        return {m_error, m_command, m_arguments.contains(QStringLiteral("--json"))};
    }

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
// A GigE Vision packet size is a 16-bit field; the camera's limits decide within it.
constexpr int64_t kMaxPacketSize = 65535;
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

// A GenICam name: letters, digits and underscores, a letter first.
bool isFeatureEntryName(const QString& name) {
    static const QRegularExpression kName(QStringLiteral("^[A-Za-z][A-Za-z0-9_]*$"));
    return kName.match(name).hasMatch();
}

// --trigger, --exposure and --pixel-format, which grab and view share.
void readCameraSettings(OptionReader& reader, AcqTriggerMode& trigger, std::optional<int32_t>& exposureUs,
                        QString& pixelFormat) {
    if (reader.isSet(QStringLiteral("trigger"))) {
        const QString name = reader.value(QStringLiteral("trigger"));
        if (const std::optional<AcqTriggerMode> mode = triggerFrom(name)) {
            trigger = *mode;
        } else {
            reader.fail(
                QStringLiteral("--trigger '%1' is not a trigger mode; use one of %2").arg(name, triggerNames()));
        }
    }
    if (reader.isSet(QStringLiteral("exposure"))) {
        if (const auto us = reader.integer(QStringLiteral("exposure"), 1, std::numeric_limits<int32_t>::max())) {
            exposureUs = static_cast<int32_t>(*us);
        }
    }
    if (reader.isSet(QStringLiteral("pixel-format"))) {
        const QString name = reader.text(QStringLiteral("pixel-format")).value_or(QString()).trimmed();
        if (isFeatureEntryName(name)) {
            pixelFormat = name;
        } else if (!name.isEmpty()) {
            reader.fail(QStringLiteral("--pixel-format '%1' is not a pixel format name ('vxcam info' lists the "
                                       "camera's, such as Mono8 or BayerRG8)")
                            .arg(name));
        }
    }
}

void readGrabValues(OptionReader& reader, GrabOptions& options) {
    if (!reader.isSet(QStringLiteral("camera"))) {
        reader.fail(QStringLiteral("grab needs --camera ID ('vxcam list' shows the identifiers)"));
    } else if (const std::optional<QString> camera = reader.text(QStringLiteral("camera"))) {
        options.camera = camera->trimmed();
    }
    readCameraSettings(reader, options.trigger, options.exposureUs, options.pixelFormat);
    if (reader.isSet(QStringLiteral("packet-size"))) {
        options.packetSize = reader.integer(QStringLiteral("packet-size"), 1, kMaxPacketSize);
    }
    if (reader.isSet(QStringLiteral("frames"))) {
        options.frames = reader.integer(QStringLiteral("frames"), 1, kMaxFrames);
    }
    if (reader.isSet(QStringLiteral("duration"))) {
        options.durationS = reader.seconds(QStringLiteral("duration"), kMaxDurationS);
    }
    if (reader.isSet(QStringLiteral("timeout"))) {
        options.timeoutS = reader.seconds(QStringLiteral("timeout"), kMaxTimeoutS);
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
    for (const char* name : {"camera", "trigger", "exposure", "pixel-format", "packet-size", "frames", "duration",
                             "timeout", "save", "every"}) {
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
    if (!options.timeoutS && !options.durationS) {
        options.timeoutS = kDefaultTimeoutS;
    }
    return options;
}

ParsedCommand parseInfo(OptionReader& reader) {
    reader.add(QStringLiteral("camera"), true);
    if (!reader.parse(1)) {
        return reader.error();
    }
    if (reader.isSet(QStringLiteral("help"))) {
        return HelpRequest{infoHelp()};
    }
    InfoOptions options;
    options.common = reader.common();
    const QStringList positional = reader.positional();
    if (!positional.isEmpty() && reader.isSet(QStringLiteral("camera"))) {
        reader.fail(QStringLiteral("name the camera once, either as CAMERA or with --camera"));
    } else if (!positional.isEmpty()) {
        options.camera = positional.constFirst().trimmed();
    } else if (reader.isSet(QStringLiteral("camera"))) {
        options.camera = reader.text(QStringLiteral("camera")).value_or(QString()).trimmed();
    }
    if (!reader.failed() && options.camera.isEmpty()) {
        reader.fail(QStringLiteral("info needs a CAMERA ('vxcam list' shows the identifiers)"));
    }
    if (reader.failed()) {
        return reader.error();
    }
    return options;
}

ParsedCommand parseView(OptionReader& reader) {
    for (const char* name :
         {"camera", "trigger", "exposure", "pixel-format", "snapshot-dir", "quit-after", "window-shot"}) {
        reader.add(QLatin1String(name), true);
    }
    if (!reader.parse()) {
        return reader.error();
    }
    if (reader.isSet(QStringLiteral("help"))) {
        return HelpRequest{viewHelp()};
    }
    ViewOptions options;
    options.common = reader.common();
    if (options.common.json) {
        reader.fail(QStringLiteral("view shows a window and prints no JSON; --json applies to list, info, grab and "
                                   "demo"));
    }
    if (reader.isSet(QStringLiteral("camera"))) {
        options.camera = reader.text(QStringLiteral("camera")).value_or(QString()).trimmed();
    }
    readCameraSettings(reader, options.trigger, options.exposureUs, options.pixelFormat);
    if (reader.isSet(QStringLiteral("snapshot-dir"))) {
        options.snapshotDir = reader.text(QStringLiteral("snapshot-dir")).value_or(options.snapshotDir);
    }
    if (reader.isSet(QStringLiteral("quit-after"))) {
        options.quitAfterFrames = reader.integer(QStringLiteral("quit-after"), 1, kMaxFrames).value_or(0);
    }
    if (reader.isSet(QStringLiteral("window-shot"))) {
        if (!reader.isSet(QStringLiteral("quit-after"))) {
            reader.fail(QStringLiteral("--window-shot only applies with --quit-after N"));
        }
        options.windowShot = reader.text(QStringLiteral("window-shot")).value_or(QString());
    }
    if (reader.failed()) {
        return reader.error();
    }
    return options;
}

ParsedCommand parseCheck(OptionReader& reader) {
    reader.add(QStringLiteral("interface"), true);
    if (!reader.parse()) {
        return reader.error();
    }
    if (reader.isSet(QStringLiteral("help"))) {
        return HelpRequest{checkHelp()};
    }
    CheckOptions options;
    options.common = reader.common();
    if (reader.isSet(QStringLiteral("interface"))) {
        options.interface = reader.text(QStringLiteral("interface")).value_or(QString()).trimmed();
    }
    if (reader.failed()) {
        return reader.error();
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
        return UsageError{QStringLiteral("no command given"), {}, false};
    }
    const QString& command = arguments.at(1);
    if (command == QLatin1String("-h") || command == QLatin1String("--help")) {
        return HelpRequest{toolHelp()};
    }
    if (command == QLatin1String("--version")) {
        QStringList rest = arguments.mid(2);
        rest.prepend(arguments.at(0));
        OptionReader reader(QString(), rest);
        if (!reader.parse()) {
            return reader.error();
        }
        return VersionRequest{reader.common()};
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
    if (command == QLatin1String("info")) {
        return parseInfo(reader);
    }
    if (command == QLatin1String("view")) {
        return parseView(reader);
    }
    if (command == QLatin1String("check")) {
        return parseCheck(reader);
    }
    const bool json = arguments.contains(QStringLiteral("--json"));
    if (command.startsWith(QLatin1Char('-'))) {
        return UsageError{QStringLiteral("the command comes first, before option '%1'").arg(command), {}, json};
    }
    return UsageError{
        QStringLiteral("unknown command '%1'; the commands are list, info, grab, view, demo and check").arg(command),
        {},
        json};
}

} // namespace vxcam::host
