#include "host/GrabReport.h"

#include "contract/ICameraObject.h"

#include <QDir>
#include <QJsonArray>
#include <QStringList>

#include <chrono>

namespace vxcam::host {
namespace {

// One line of the text summary: a label column, then the text.
QString line(const char* label, const QString& text) {
    return QStringLiteral("%1 %2\n").arg(QLatin1String(label), -14).arg(text);
}

QString seconds(double value) {
    return QString::number(value, 'f', value < 10.0 ? 2 : 1);
}

QString imageFormatName(int32_t format) {
    return g_imageFormatNames.value(format, QStringLiteral("unnamed"));
}

QJsonValue optionalNumber(const std::optional<double>& value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString askedText(const GrabReport& report) {
    QStringList asked;
    if (report.framesAsked) {
        asked << plural(*report.framesAsked, "frame", "frames");
    }
    if (report.durationAsked) {
        asked << QStringLiteral("%1 s").arg(*report.durationAsked);
    }
    return asked.join(QStringLiteral(" within "));
}

QString framesText(const GrabReport& report) {
    QString text = QStringLiteral("%1 received in %2 s")
                       .arg(plural(report.tally.received, "frame", "frames"), seconds(report.elapsedS));
    if (const std::optional<double> fps = report.framesPerSecond()) {
        text += QStringLiteral(", %1 frames per second").arg(QString::number(*fps, 'f', 1));
    }
    text += QStringLiteral(" (asked: %1)").arg(askedText(report));
    return text;
}

QString frameIdText(const FrameTally& tally) {
    if (!tally.firstFrameId) {
        return QStringLiteral("none");
    }
    QString text = QStringLiteral("%1 to %2; %3, %4")
                       .arg(*tally.firstFrameId)
                       .arg(*tally.lastFrameId)
                       .arg(plural(tally.gaps, "gap", "gaps"), plural(tally.lost, "frame lost", "frames lost"));
    if (tally.outOfOrder > 0) {
        text += QStringLiteral(", %1 repeated or out of order").arg(tally.outOfOrder);
    }
    return text;
}

QString receivedText(const GrabReport& report) {
    QString text = report.layout.known() ? report.layout.name : QStringLiteral("unknown layout");
    if (report.tally.received > 0) {
        text += QStringLiteral(", %1 x %2").arg(report.tally.width).arg(report.tally.height);
        if (report.byteSize > 0) {
            text += QStringLiteral(", %1 bytes per frame").arg(report.byteSize);
        }
        if (report.linePitch > 0) {
            text += QStringLiteral(", %1 bytes per line").arg(report.linePitch);
        }
        if (report.tally.sizeChanged) {
            text += QStringLiteral(" (the size changed during the run)");
        }
        if (report.tally.formatChanged) {
            text += QStringLiteral(" (the format changed during the run)");
        }
    }
    return text;
}

QString savedText(const GrabReport& report) {
    QString text = QStringLiteral("%1 in %2")
                       .arg(plural(static_cast<int64_t>(report.saved.size()), "PNG file", "PNG files"),
                            QDir::toNativeSeparators(report.saveDir));
    if (report.saveEvery > 1) {
        text += QStringLiteral(" (one frame in %1)").arg(report.saveEvery);
    }
    if (!report.contactSheet.isEmpty()) {
        text += QStringLiteral("; contact sheet %1 (%2)")
                    .arg(QDir::toNativeSeparators(report.contactSheet))
                    .arg(plural(static_cast<int64_t>(report.sheetFrames.size()), "frame", "frames"));
    }
    if (report.framesNotSaved > 0) {
        text += QStringLiteral("; %1 not saved").arg(plural(report.framesNotSaved, "frame", "frames"));
    }
    if (report.earlierPictures > 0) {
        text += QStringLiteral("; the folder held %1 of an earlier run")
                    .arg(plural(report.earlierPictures, "frame picture", "frame pictures"));
    }
    return text;
}

QJsonObject savedJson(const GrabReport& report) {
    QJsonArray files;
    for (const SavedFrame& frame : report.saved) {
        files.append(QJsonObject{{QStringLiteral("file"), frame.path},
                                 {QStringLiteral("index"), static_cast<double>(frame.index)},
                                 {QStringLiteral("frameId"), static_cast<double>(frame.frameId)}});
    }
    QJsonArray sheetFrames;
    for (const int64_t index : report.sheetFrames) {
        sheetFrames.append(static_cast<double>(index));
    }
    return {{QStringLiteral("directory"), report.saveDir},
            {QStringLiteral("every"), static_cast<double>(report.saveEvery)},
            {QStringLiteral("files"), files},
            {QStringLiteral("contactSheet"),
             report.contactSheet.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(report.contactSheet)},
            {QStringLiteral("contactSheetFrames"), sheetFrames},
            {QStringLiteral("framesNotSaved"), static_cast<double>(report.framesNotSaved)},
            {QStringLiteral("earlierPictures"), static_cast<double>(report.earlierPictures)}};
}

QJsonObject receivedJson(const GrabReport& report) {
    const bool described = report.tally.received > 0 && !report.layout.pfncName.isEmpty();
    return {
        {QStringLiteral("layout"), described ? QJsonValue(report.layout.pfncName) : QJsonValue()},
        {QStringLiteral("description"), report.layout.name},
        {QStringLiteral("significantBits"), report.layout.significantBits},
        {QStringLiteral("width"), report.tally.width},
        {QStringLiteral("height"), report.tally.height},
        {QStringLiteral("bytesPerFrame"), described ? QJsonValue(static_cast<double>(report.byteSize)) : QJsonValue()},
        {QStringLiteral("bytesPerLine"), described ? QJsonValue(static_cast<double>(report.linePitch)) : QJsonValue()},
        {QStringLiteral("formatChanged"), report.tally.formatChanged},
        {QStringLiteral("pixelsRead"), report.pixelsNote.isEmpty()},
        {QStringLiteral("note"), report.pixelsNote}};
}

QString streamText(const VeyraStreamStatistics& stream) {
    QString text = QStringLiteral("%1 whole, %2 torn, %3 missing, %4 lost for want of a buffer; packets: %5 missing, "
                                  "%6 resent, %7 dropped for want of a buffer")
                       .arg(stream.framesCompleted)
                       .arg(stream.framesIncomplete)
                       .arg(stream.framesMissing)
                       .arg(stream.framesLostNoBuffer)
                       .arg(stream.packetsMissing)
                       .arg(stream.packetsResent)
                       .arg(stream.packetsNoBuffer);
    const QString cause = likelyStreamCause(stream);
    if (!cause.isEmpty()) {
        text += QStringLiteral(" (%1)").arg(cause);
    }
    return text;
}

QJsonValue streamJson(const std::optional<VeyraStreamStatistics>& stream) {
    if (!stream) {
        return QJsonValue(QJsonValue::Null);
    }
    const QString cause = likelyStreamCause(*stream);
    return QJsonObject{
        {QStringLiteral("framesCompleted"), static_cast<double>(stream->framesCompleted)},
        {QStringLiteral("framesIncomplete"), static_cast<double>(stream->framesIncomplete)},
        {QStringLiteral("framesMissing"), static_cast<double>(stream->framesMissing)},
        {QStringLiteral("framesLostNoBuffer"), static_cast<double>(stream->framesLostNoBuffer)},
        {QStringLiteral("packetsMissing"), static_cast<double>(stream->packetsMissing)},
        {QStringLiteral("packetsResent"), static_cast<double>(stream->packetsResent)},
        {QStringLiteral("packetsNoBuffer"), static_cast<double>(stream->packetsNoBuffer)},
        {QStringLiteral("likelyCause"), cause.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(cause)},
    };
}

QJsonValue frameIdJson(const std::optional<uint32_t>& id) {
    return id ? QJsonValue(static_cast<double>(*id)) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString likelyStreamCause(const VeyraStreamStatistics& stream) {
    const uint64_t torn = stream.framesIncomplete + stream.framesMissing;
    const uint64_t sent = stream.framesCompleted + torn;
    const bool linkLoses = torn > 0 && torn * 100 > sent;
    const bool hostSlow = stream.framesLostNoBuffer > 0 || stream.packetsNoBuffer > 0;
    QStringList causes;
    if (linkLoses) {
        causes << QStringLiteral("the link loses packets: check the cable and switch, the interface's MTU and "
                                 "receive buffers (vxcam check), and other cameras sharing the link");
    }
    if (hostSlow) {
        causes << QStringLiteral("every buffer was in use: the host took frames slower than the camera sent them; "
                                 "pace the camera (--trigger soft) or lower its frame rate");
    }
    return causes.join(QStringLiteral("; "));
}

QString plural(int64_t count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

std::optional<double> GrabReport::framesPerSecond() const {
    const double span = std::chrono::duration<double>(tally.lastArrival - tally.firstArrival).count();
    if (tally.received < 2 || span <= 0.0) {
        return std::nullopt;
    }
    return static_cast<double>(tally.received - 1) / span;
}

QString GrabReport::text() const {
    QString cameraText = QStringLiteral("%1, trigger %2").arg(camera, trigger);
    if (exposureUs) {
        cameraText += QStringLiteral(", exposure %1 us requested").arg(*exposureUs);
    }
    QString summary = line("camera", cameraText) + line("frames", framesText(*this));
    if (softwareTriggers > 0) {
        summary +=
            line("triggers",
                 QStringLiteral("%1 sent").arg(plural(softwareTriggers, "software trigger", "software triggers")));
    }
    summary += line("frame IDs", frameIdText(tally));
    if (stream) {
        summary += line("stream", streamText(*stream));
    }
    summary += line("pixel format", cameraPixelFormat.isEmpty()
                                        ? QStringLiteral("unknown (%1)").arg(pixelFormatSource)
                                        : QStringLiteral("%1 (%2)").arg(cameraPixelFormat, pixelFormatSource));
    summary += line("received", receivedText(*this));
    if (!pixelsNote.isEmpty()) {
        summary += line("", pixelsNote);
    }
    summary += line("contract", QStringLiteral("m_nBitsPerPixel %1, m_nImageFormat %2 (%3)")
                                    .arg(contractBitsPerPixel)
                                    .arg(contractImageFormat)
                                    .arg(imageFormatName(contractImageFormat)));
    if (!saveDir.isEmpty()) {
        summary += line("saved", savedText(*this));
    }
    summary += line("result", !problem.isEmpty()  ? problem
                              : warning.isEmpty() ? QStringLiteral("ok")
                                                  : QStringLiteral("ok, but %1").arg(warning));
    return summary;
}

QJsonObject GrabReport::json() const {
    QJsonObject object{
        {QStringLiteral("camera"), camera},
        {QStringLiteral("trigger"), trigger},
        {QStringLiteral("exposureUs"), exposureUs ? QJsonValue(*exposureUs) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("framesAsked"),
         framesAsked ? QJsonValue(static_cast<double>(*framesAsked)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("durationAsked"), optionalNumber(durationAsked)},
        {QStringLiteral("framesReceived"), static_cast<double>(tally.received)},
        {QStringLiteral("elapsedSeconds"), elapsedS},
        {QStringLiteral("framesPerSecond"), optionalNumber(framesPerSecond())},
        {QStringLiteral("firstFrameId"), frameIdJson(tally.firstFrameId)},
        {QStringLiteral("lastFrameId"), frameIdJson(tally.lastFrameId)},
        {QStringLiteral("frameIdGaps"), static_cast<double>(tally.gaps)},
        {QStringLiteral("framesLost"), static_cast<double>(tally.lost)},
        {QStringLiteral("framesOutOfOrder"), static_cast<double>(tally.outOfOrder)},
        {QStringLiteral("softwareTriggers"), static_cast<double>(softwareTriggers)},
        {QStringLiteral("stream"), streamJson(stream)},
        {QStringLiteral("cameraPixelFormat"),
         cameraPixelFormat.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(cameraPixelFormat)},
        {QStringLiteral("pixelFormatSource"), pixelFormatSource},
        {QStringLiteral("received"), receivedJson(*this)},
        {QStringLiteral("contract"),
         QJsonObject{{QStringLiteral("bitsPerPixel"), contractBitsPerPixel},
                     {QStringLiteral("imageFormat"), contractImageFormat},
                     {QStringLiteral("imageFormatName"), imageFormatName(contractImageFormat)}}},
        {QStringLiteral("interrupted"), interrupted},
        {QStringLiteral("result"), problem.isEmpty() ? QStringLiteral("ok") : problem},
        {QStringLiteral("warning"), warning.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(warning)},
        {QStringLiteral("exitCode"), toInt(exitCode)},
    };
    object.insert(QStringLiteral("saved"), saveDir.isEmpty() ? QJsonValue(QJsonValue::Null) : savedJson(*this));
    return object;
}

} // namespace vxcam::host
