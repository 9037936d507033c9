// `vxcam info` and `vxcam --version`.
#include "contract/CameraNameTables.h"
#include "contract/IVeyraCameraObject.h"
#include "host/CameraChoice.h"
#include "host/CameraModule.h"
#include "host/Commands.h"
#include "host/Console.h"
#include "host/FrameCollector.h"
#include "host/GrabSession.h"
#include "host/SdkCameraDetails.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>

namespace vxcam::host {
namespace {

using namespace std::chrono_literals;

constexpr auto kFrameWait = 3s;

// One frame through the contract, as a host gets it: its size and the layout the module describes.
struct SampleFrame {
    bool arrived = false;
    int32_t width = 0;
    int32_t height = 0;
    FrameFormat format;
    int32_t bitsPerPixel = 0;
    int32_t imageFormat = 0;
    QString note; // why no frame came
};

// Opens the camera through the module, fires one software trigger and waits for its frame.
SampleFrame sampleFrame(const CameraModule& module, const QString& cameraId) {
    SampleFrame sample;
    CameraConfig config;
    config.cameraType = CameraTypeVeyra;
    config.cameraId = cameraId;
    FrameCollector::Plan plan;
    plan.frameLimit = 1;
    FrameCollector collector(plan);
    const CameraModule::CameraHandle camera = module.makeCamera(&config, &collector);
    if (!camera || camera->IOpenCamera() != 1) {
        sample.note = QStringLiteral("the camera did not open through the module");
        return sample;
    }
    sample.bitsPerPixel = camera->m_nBitsPerPixel;
    sample.imageFormat = camera->m_nImageFormat;
    camera->m_nTriggerMode = SoftTrigger;
    if (camera->IStartCamera() == 1 && asVeyraCamera(camera.get())->ISendSoftTrigger() == 1) {
        const FrameTally tally = collector.waitForChange(0, Clock::now() + kFrameWait);
        if (tally.received > 0 && tally.format) {
            sample.arrived = true;
            sample.width = tally.width;
            sample.height = tally.height;
            sample.format = *tally.format;
        } else {
            sample.note = QStringLiteral("no frame came within 3 s of a software trigger");
        }
    } else {
        sample.note = QStringLiteral("the camera did not take a software trigger");
    }
    camera->IStopCamera();
    camera->ICloseCamera();
    return sample;
}

QJsonValue numberOrNull(const std::optional<double>& value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString entriesText(const QStringList& named, uint64_t entries) {
    QString text = named.isEmpty() ? QStringLiteral("none named") : named.join(QStringLiteral(", "));
    const auto count = static_cast<uint64_t>(named.size());
    if (entries > count) {
        text += QStringLiteral(" (and %1 more the tool cannot name)").arg(entries - count);
    }
    return text;
}

QString line(const char* label, const QString& text) {
    return QStringLiteral("%1 %2\n").arg(QLatin1String(label), -16).arg(text);
}

QString infoText(const QString& cameraId, const SdkCameraDetails& details, const SampleFrame& sample) {
    QString text =
        line("camera", cameraId) + line("model", details.model) + line("serial", details.serial) +
        line("pixel format", details.pixelFormat.isEmpty() ? QStringLiteral("unknown") : details.pixelFormat);
    if (sample.arrived) {
        text +=
            line("size",
                 QStringLiteral("%1 x %2 (of one frame, on a software trigger)").arg(sample.width).arg(sample.height));
        text += line("host receives", QStringLiteral("%1, %2 bytes per frame, %3 bytes per line")
                                          .arg(sample.format.layout.pfncName)
                                          .arg(sample.format.byteSize)
                                          .arg(sample.format.linePitch));
    } else {
        text += line("size", QStringLiteral("unknown: %1").arg(sample.note));
    }
    text += line("contract", QStringLiteral("m_nBitsPerPixel %1, m_nImageFormat %2 (%3)")
                                 .arg(sample.bitsPerPixel)
                                 .arg(sample.imageFormat)
                                 .arg(g_imageFormatNames.value(sample.imageFormat, QStringLiteral("unnamed"))));
    text += line("pixel formats", entriesText(details.pixelFormats, details.pixelFormatEntries));
    text += line("trigger sources", entriesText(details.triggerSources, details.triggerSourceEntries));
    if (details.exposureFeature.isEmpty()) {
        text += line("exposure", QStringLiteral("no exposure feature"));
    } else {
        text += line("exposure", QStringLiteral("%1, %2 to %3 us, now %4 us")
                                     .arg(details.exposureFeature)
                                     .arg(details.exposureMin.value_or(0.0), 0, 'g', 12)
                                     .arg(details.exposureMax.value_or(0.0), 0, 'g', 12)
                                     .arg(details.exposureValue.value_or(0.0), 0, 'g', 12));
    }
    for (const QString& problem : details.problems) {
        text += line("not read", problem);
    }
    return text;
}

QJsonObject infoJson(const QString& cameraId, const SdkCameraDetails& details, const SampleFrame& sample) {
    QJsonObject frame;
    if (sample.arrived) {
        frame = {{QStringLiteral("width"), sample.width},
                 {QStringLiteral("height"), sample.height},
                 {QStringLiteral("layout"), sample.format.layout.pfncName},
                 {QStringLiteral("cameraPixelFormat"), sample.format.cameraPixelFormat},
                 {QStringLiteral("bytesPerFrame"), static_cast<double>(sample.format.byteSize)},
                 {QStringLiteral("bytesPerLine"), static_cast<double>(sample.format.linePitch)}};
    }
    return {
        {QStringLiteral("camera"), cameraId},
        {QStringLiteral("model"), details.model},
        {QStringLiteral("serial"), details.serial},
        {QStringLiteral("pixelFormat"), details.pixelFormat},
        {QStringLiteral("pixelFormats"), QJsonArray::fromStringList(details.pixelFormats)},
        {QStringLiteral("pixelFormatEntries"), static_cast<double>(details.pixelFormatEntries)},
        {QStringLiteral("triggerSources"), QJsonArray::fromStringList(details.triggerSources)},
        {QStringLiteral("triggerSourceEntries"), static_cast<double>(details.triggerSourceEntries)},
        {QStringLiteral("exposure"),
         details.exposureFeature.isEmpty()
             ? QJsonValue(QJsonValue::Null)
             : QJsonValue(QJsonObject{{QStringLiteral("feature"), details.exposureFeature},
                                      {QStringLiteral("min"), numberOrNull(details.exposureMin)},
                                      {QStringLiteral("max"), numberOrNull(details.exposureMax)},
                                      {QStringLiteral("value"), numberOrNull(details.exposureValue)}})},
        {QStringLiteral("frame"), sample.arrived ? QJsonValue(frame) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("frameNote"), sample.note},
        {QStringLiteral("contract"), QJsonObject{{QStringLiteral("bitsPerPixel"), sample.bitsPerPixel},
                                                 {QStringLiteral("imageFormat"), sample.imageFormat}}},
        {QStringLiteral("problems"), QJsonArray::fromStringList(details.problems)},
        {QStringLiteral("exitCode"), 0},
    };
}

} // namespace

ExitCode runInfo(const InfoOptions& options) {
    Console& console = Console::instance();
    console.setVerbose(options.common.verbose);
    const bool json = options.common.json;
    CameraModule module(options.common.moduleDir);
    if (!module.load()) {
        return failCommand(module.errorString(), ExitCode::ModuleUnusable, json);
    }
    const std::optional<QStringList> listed = listCameras(module);
    if (!listed) {
        return failCommand(QStringLiteral("the module made no camera object"), ExitCode::ModuleUnusable, json);
    }
    const CameraChoice choice = chooseCamera(*listed, options.camera);
    if (!choice.id) {
        return failCommand(choice.error, ExitCode::CameraUnavailable, json);
    }
    // The module's objects are gone here: the SDK layer's system list is the tool's for the read.
    QString error;
    const std::optional<SdkCameraDetails> details = readSdkCameraDetails(serialOf(*choice.id), error);
    if (!details) {
        return failCommand(error, ExitCode::CameraUnavailable, json);
    }
    const SampleFrame sample = sampleFrame(module, *choice.id);
    if (json) {
        console.result(
            QString::fromUtf8(QJsonDocument(infoJson(*choice.id, *details, sample)).toJson(QJsonDocument::Indented)));
    } else {
        console.result(infoText(*choice.id, *details, sample));
    }
    return ExitCode::Success;
}

ExitCode runVersion(const VersionRequest& request) {
    Console& console = Console::instance();
    CameraModule module(request.common.moduleDir);
    const bool loaded = module.load();
    const QString moduleFile = QDir::toNativeSeparators(module.fileName());
    // The module carries no version of its own: the contract has no call for it and it exports only its two
    // functions. It is built from the same sources as this tool, so the tool says where it found it.
    const QString moduleText =
        loaded ? QStringLiteral("%1 (reports no version of its own)").arg(moduleFile) : module.errorString();
    if (request.common.json) {
        console.result(QString::fromUtf8(
            QJsonDocument(
                QJsonObject{{QStringLiteral("tool"), QStringLiteral(VXCAM_VERSION)},
                            {QStringLiteral("module"), QLatin1String(kModuleName)},
                            {QStringLiteral("moduleFile"), loaded ? QJsonValue(moduleFile) : QJsonValue()},
                            {QStringLiteral("moduleVersion"), QJsonValue(QJsonValue::Null)},
                            {QStringLiteral("result"), loaded ? QStringLiteral("ok") : moduleText},
                            {QStringLiteral("exitCode"), toInt(loaded ? ExitCode::Success : ExitCode::ModuleUnusable)}})
                .toJson(QJsonDocument::Indented)));
    } else {
        console.result(QStringLiteral("vxcam %1\n%2 %3\n")
                           .arg(QStringLiteral(VXCAM_VERSION), QLatin1String(kModuleName), moduleText));
    }
    if (!loaded) {
        console.error(module.errorString());
    }
    return loaded ? ExitCode::Success : ExitCode::ModuleUnusable;
}

} // namespace vxcam::host
