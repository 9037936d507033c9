// The cost of one frame on the "sim" transport and on the "gentl" transport over vxcam-sim.cti, side by side in
// one run: a software trigger executed through the SDK's facade, until the new-buffer handler has the filled
// buffer. Both paths run the same simulated camera (the same clock, the same picture copied once into the
// driver's buffer); the GenTL path adds the GenTL calls (trigger through the port and the GenICam tree, the
// event wait, the buffer's information), and no copy: a copy of ours would show as the large frame's extra
// time. Real time per frame, the hand-over's thread switches included.
#include "sdk/Buffer.h"
#include "sdk/DataStream.h"
#include "sdk/Device.h"
#include "sdk/Interface.h"
#include "sdk/Node.h"
#include "sdk/System.h"
#include "sdk/SystemList.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

const char* const kTransports[] = {"sim", "gentl"};

struct Handler {
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t frames = 0; // guarded by mutex

    static void onBuffer(void* owner, sdk::Buffer* buffer) {
        auto* self = static_cast<Handler*>(owner);
        buffer->QueueBuffer();
        const std::lock_guard lock(self->mutex);
        ++self->frames;
        self->arrived.notify_all();
    }
    bool waitFor(uint64_t count) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(5), [&] { return frames >= count; });
    }
};

void softwareTriggeredFrame(benchmark::State& state) {
    const char* transport = kTransports[state.range(0)];
    const auto width = static_cast<int>(state.range(1));
    const auto height = static_cast<int>(state.range(2));
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("cameras.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the camera file");
        return;
    }
    file.write(QStringLiteral(R"({ "systems": [ { "id": "s0", "interfaces": [ { "id": "if0", "devices": [
        { "serial": "B1", "width": %1, "height": %2, "frameRate": 0 } ] } ] } ] })")
                   .arg(width)
                   .arg(height)
                   .toUtf8());
    file.close();
    qputenv("VXCAM_SIM_CONFIG", config.toLocal8Bit());
    qputenv("VXCAM_TRANSPORTS", transport);
    qputenv("VXCAM_GENTL_CTI", VXCAM_SIM_CTI);
    {
        sdk::SystemList* systems = sdk::SystemList::GetInstance();
        sdk::System* system = systems->begin()->second;
        system->Open();
        system->GetInterfaces()->Refresh(100);
        sdk::Interface* iface = system->GetInterfaces()->begin()->second;
        iface->Open();
        iface->GetDevices()->Refresh(100);
        sdk::Device* device = iface->GetDevices()->begin()->second;
        device->Open();
        device->GetDataStreams()->Refresh();
        sdk::DataStream* stream = device->GetDataStreams()->begin()->second;
        stream->Open();
        std::vector<std::unique_ptr<sdk::Buffer>> buffers;
        for (int i = 0; i < 4; ++i) {
            buffers.push_back(std::make_unique<sdk::Buffer>());
            stream->GetBufferList()->Add(buffers.back().get());
            buffers.back()->QueueBuffer();
        }
        Handler handler;
        stream->RegisterNewBufferEventHandler(&handler, &Handler::onBuffer);
        device->GetRemoteNode("TriggerMode")->SetString("On");
        device->GetRemoteNode("TriggerSource")->SetString("Software");
        stream->StartAcquisitionContinuous();
        device->GetRemoteNode("AcquisitionStart")->Execute();
        sdk::Node* trigger = device->GetRemoteNode("TriggerSoftware");
        uint64_t expected = 0;
        for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): Google Benchmark's loop
            trigger->Execute();
            if (!handler.waitFor(++expected)) {
                state.SkipWithError("no frame within 5 s");
                break;
            }
        }
        stream->StopAcquisition();
        stream->RegisterNewBufferEventHandler(nullptr, nullptr);
        for (auto& buffer : buffers) {
            stream->GetBufferList()->RevokeBuffer(buffer.get());
        }
        stream->Close();
        device->Close();
    }
    sdk::SystemList::ReleaseInstance();
    static_cast<void>(sdk::SystemList::AwaitThreadsEnded());
    state.SetLabel(std::string(transport) + " " + std::to_string(width) + "x" + std::to_string(height) + " Mono8");
}

BENCHMARK(softwareTriggeredFrame)
    ->ArgNames({"transport", "width", "height"})
    ->Args({0, 64, 64})
    ->Args({1, 64, 64})
    ->Args({0, 2448, 2048})
    ->Args({1, 2448, 2048})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace
