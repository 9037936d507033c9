#include "host/Commands.h"

#include "host/CameraChoice.h"
#include "host/CameraModule.h"
#include "host/Console.h"
#include "host/ContactSheet.h"
#include "host/FrameWriter.h"
#include "host/GrabSession.h"
#include "host/NetworkCheck.h"
#include "host/UsbCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace vxcam::host {
namespace {

// The demo's cameras, which the shipped file describes, and the trigger mode each one shows.
struct DemoCamera {
    const char* serial;
    AcqTriggerMode trigger;
};

constexpr std::array<DemoCamera, 4> kDemoCameras{{
    {"DEMO-BAYER", FreeRun},
    {"DEMO-YUV", SoftTrigger},
    {"DEMO-MONO", LineTrigger},
    {"DEMO-RGB", FreeRunResetFrameId},
}};
constexpr int64_t kDemoFrames = 24;
constexpr int64_t kDemoEvery = 6;
constexpr std::size_t kDemoTilesPerCamera = 4;

QString jsonText(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

// Loads the module, or says why not.
bool loadModule(CameraModule& module, bool json) {
    if (module.load()) {
        return true;
    }
    static_cast<void>(failCommand(module.errorString(), ExitCode::ModuleUnusable, json));
    return false;
}

// Pictures of an earlier demo in the demo's own folders: the frames and the contact sheet it writes, by name.
void removeEarlierDemoPictures(const QString& folder) {
    QDir dir(folder);
    const QStringList names =
        dir.entryList({QStringLiteral("frame-*.png"), QStringLiteral("contact-sheet.png")}, QDir::Files);
    for (const QString& name : names) {
        dir.remove(name);
    }
}

// Prints the result of one grab: its summary (text or JSON), or the error that stopped it.
void printGrab(const GrabResult& result, bool json) {
    Console& console = Console::instance();
    if (!result.report) {
        if (json) {
            console.result(jsonText(QJsonObject{{QStringLiteral("result"), result.error},
                                                {QStringLiteral("exitCode"), toInt(result.exitCode)}}));
        }
        console.error(result.error);
        return;
    }
    if (json) {
        console.result(jsonText(result.report->json()));
    } else {
        console.result(result.report->text());
    }
    if (!result.report->problem.isEmpty()) {
        console.error(result.report->problem);
    }
}

// `count` of `tiles`, spread evenly, first and last included.
std::vector<QImage> spread(const std::vector<QImage>& tiles, std::size_t count) {
    if (tiles.size() <= count || count < 2) {
        return tiles;
    }
    std::vector<QImage> chosen;
    const std::size_t last = tiles.size() - 1;
    for (std::size_t i = 0; i < count; ++i) {
        chosen.push_back(tiles[(i * last + (count - 1) / 2) / (count - 1)]);
    }
    return chosen;
}

ExitCode showUsageError(const UsageError& usage) {
    Console& console = Console::instance();
    if (usage.json) {
        console.result(jsonText(QJsonObject{{QStringLiteral("result"), usage.message},
                                            {QStringLiteral("exitCode"), toInt(ExitCode::Usage)}}));
    }
    console.error(usage.message);
    console.message(usage.command.isEmpty() ? QStringLiteral("Try 'vxcam --help'.\n")
                                            : QStringLiteral("Try 'vxcam %1 --help'.\n").arg(usage.command));
    return ExitCode::Usage;
}

// Every demo grab, in the order of kDemoCameras; the first failure decides the exit code.
struct DemoRun {
    ExitCode exitCode = ExitCode::Success;
    QJsonArray reports;
    std::vector<std::vector<QImage>> sheetRows;
};

DemoRun grabDemoCameras(const CameraModule& module, const DemoOptions& options) {
    DemoRun run;
    for (const DemoCamera& camera : kDemoCameras) {
        GrabOptions grabOptions;
        grabOptions.common = options.common;
        grabOptions.camera = QStringLiteral("veyra %1").arg(QLatin1String(camera.serial));
        grabOptions.trigger = camera.trigger;
        grabOptions.frames = kDemoFrames;
        grabOptions.every = kDemoEvery;
        grabOptions.saveDir = QDir(options.outDir).filePath(QString::fromLatin1(camera.serial).toLower());
        // The demo's folders are its own: a new run replaces the pictures of the last one.
        removeEarlierDemoPictures(grabOptions.saveDir);
        const GrabResult result = grab(module, grabOptions);
        if (!options.common.json) {
            printGrab(result, false);
            Console::instance().result(QStringLiteral("\n"));
        } else if (!result.report) {
            Console::instance().error(result.error);
        }
        if (result.report) {
            run.reports.append(result.report->json());
        } else {
            run.reports.append(QJsonObject{{QStringLiteral("camera"), grabOptions.camera},
                                           {QStringLiteral("result"), result.error},
                                           {QStringLiteral("exitCode"), toInt(result.exitCode)}});
        }
        if (!result.sheetTiles.empty()) {
            run.sheetRows.push_back(spread(result.sheetTiles, kDemoTilesPerCamera));
        }
        if (run.exitCode == ExitCode::Success) {
            run.exitCode = result.exitCode;
        }
    }
    return run;
}

} // namespace

ExitCode failCommand(const QString& error, ExitCode code, bool json) {
    Console& console = Console::instance();
    if (json) {
        console.result(
            jsonText(QJsonObject{{QStringLiteral("result"), error}, {QStringLiteral("exitCode"), toInt(code)}}));
    }
    console.error(error);
    return code;
}

ExitCode runCommand(const QStringList& arguments) {
    const ParsedCommand parsed = parseCommandLine(arguments);
    if (const auto* help = std::get_if<HelpRequest>(&parsed)) {
        Console::instance().result(help->text);
        return ExitCode::Success;
    }
    if (const auto* usage = std::get_if<UsageError>(&parsed)) {
        return showUsageError(*usage);
    }
    if (const auto* list = std::get_if<ListOptions>(&parsed)) {
        return runList(*list);
    }
    if (const auto* grabOptions = std::get_if<GrabOptions>(&parsed)) {
        return runGrab(*grabOptions);
    }
    if (const auto* info = std::get_if<InfoOptions>(&parsed)) {
        return runInfo(*info);
    }
    if (const auto* view = std::get_if<ViewOptions>(&parsed)) {
        return runView(*view);
    }
    if (const auto* version = std::get_if<VersionRequest>(&parsed)) {
        return runVersion(*version);
    }
    if (const auto* check = std::get_if<CheckOptions>(&parsed)) {
        return runCheck(*check);
    }
    return runDemo(std::get<DemoOptions>(parsed));
}

ExitCode runCheck(const CheckOptions& options) {
    NetworkFacts facts = readNetworkFacts(QStringLiteral("/"), options.interface);
    if (!options.interface.isEmpty() && facts.interfaces.empty()) {
        return failCommand(QStringLiteral("this host has no network interface '%1'").arg(options.interface),
                           ExitCode::Usage, options.common.json);
    }
    facts.packetSocketsAllowed = mayOpenPacketSockets();
    std::vector<CheckItem> items = checkNetwork(facts);
    for (CheckItem& item : checkUsbVision(readUsbFacts(QStringLiteral("/")))) {
        items.push_back(std::move(item));
    }
    const bool changes = std::any_of(items.begin(), items.end(),
                                     [](const CheckItem& item) { return item.status == CheckStatus::Change; });
    const ExitCode code = changes ? ExitCode::SettingsToChange : ExitCode::Success;
    if (options.common.json) {
        QJsonObject object = checkJson(items);
        object.insert(QStringLiteral("exitCode"), toInt(code));
        Console::instance().result(jsonText(object));
    } else {
        Console::instance().result(checkText(items));
    }
    return code;
}

ExitCode runList(const ListOptions& options) {
    Console& console = Console::instance();
    console.setVerbose(options.common.verbose);
    CameraModule module(options.common.moduleDir);
    if (!loadModule(module, options.common.json)) {
        return ExitCode::ModuleUnusable;
    }
    const std::optional<QStringList> cameras = listCameras(module);
    if (!cameras) {
        return failCommand(QStringLiteral("the module made no camera object"), ExitCode::ModuleUnusable,
                           options.common.json);
    }
    // No camera at all is a failure of the run: a missing or broken camera file looks just like it.
    const ExitCode exitCode = cameras->isEmpty() ? ExitCode::CameraUnavailable : ExitCode::Success;
    const QString outcome =
        cameras->isEmpty() ? QStringLiteral("no camera found %1").arg(noCameraHint()) : QStringLiteral("ok");
    if (options.common.json) {
        console.result(jsonText(QJsonObject{{QStringLiteral("cameras"), QJsonArray::fromStringList(*cameras)},
                                            {QStringLiteral("result"), outcome},
                                            {QStringLiteral("exitCode"), toInt(exitCode)}}));
    }
    if (cameras->isEmpty()) {
        console.error(outcome);
        return exitCode;
    }
    if (!options.common.json) {
        for (const QString& camera : *cameras) {
            console.result(camera + QLatin1Char('\n'));
        }
    }
    return exitCode;
}

ExitCode runGrab(const GrabOptions& options) {
    Console::instance().setVerbose(options.common.verbose);
    CameraModule module(options.common.moduleDir);
    if (!loadModule(module, options.common.json)) {
        return ExitCode::ModuleUnusable;
    }
    const GrabResult result = grab(module, options);
    printGrab(result, options.common.json);
    return result.exitCode;
}

ExitCode runDemo(const DemoOptions& options) {
    Console& console = Console::instance();
    console.setVerbose(options.common.verbose);
    const QString config = QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(kDemoConfigName));
    const bool json = options.common.json;
    if (!QFileInfo::exists(config)) {
        return failCommand(QStringLiteral("the demo cameras' file '%1' is missing beside the binary")
                               .arg(QDir::toNativeSeparators(config)),
                           ExitCode::Internal, json);
    }
    // The module's SDK reads both when it first looks for cameras, which is after this.
    qputenv("VXCAM_SIM_CONFIG", QFile::encodeName(config));
    qputenv("VXCAM_TRANSPORTS", "sim");
    if (const std::optional<QString> why = unwritableFolder(options.outDir)) {
        return failCommand(*why, ExitCode::OutputFailed, json);
    }
    CameraModule module(options.common.moduleDir);
    if (!loadModule(module, json)) {
        return ExitCode::ModuleUnusable;
    }
    DemoRun run = grabDemoCameras(module, options);

    const QString sheetPath = QDir(options.outDir).filePath(QStringLiteral("contact-sheet.png"));
    const QImage sheet = composeSheet(run.sheetRows);
    const std::optional<QString> sheetFailure = writePng(sheet, sheetPath);
    const bool sheetWritten = !sheetFailure;
    if (sheetFailure && run.exitCode == ExitCode::Success) {
        console.error(*sheetFailure);
        run.exitCode = ExitCode::OutputFailed;
    }
    const QString folder = QDir::toNativeSeparators(QDir(options.outDir).absolutePath());
    if (options.common.json) {
        console.result(jsonText(QJsonObject{
            {QStringLiteral("directory"), folder},
            {QStringLiteral("contactSheet"), sheetWritten ? QJsonValue(sheetPath) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("cameras"), run.reports},
            {QStringLiteral("exitCode"), toInt(run.exitCode)}}));
    } else {
        console.result(QStringLiteral("The pictures are in %1, one folder per camera; the contact sheet of all "
                                      "cameras is %2.\n")
                           .arg(folder, QDir::toNativeSeparators(sheetPath)));
    }
    return run.exitCode;
}

} // namespace vxcam::host
