#include "driver/DeliveryGate.h"

#include "sdk/Buffer.h"

namespace vxcam {

bool DeliveryGate::onDeliveringThread() const noexcept {
    return m_bDelivering && m_deliveringThread == std::this_thread::get_id();
}

bool DeliveryGate::isDeliveringThread() const {
    const std::lock_guard lock(m_mutex);
    return onDeliveringThread();
}

bool DeliveryGate::acquireOperation() {
    std::unique_lock lock(m_mutex);
    const std::thread::id self = std::this_thread::get_id();
    if (m_bOperationBusy && m_operationThread == self) {
        ++m_nOperationDepth;
        return true;
    }
    const bool insideDelivery = onDeliveringThread();
    m_changed.wait(lock, [&] { return !m_bOperationBusy || (insideDelivery && m_bQuiescing); });
    if (m_bOperationBusy) {
        return false;
    }
    m_bOperationBusy = true;
    m_operationThread = self;
    m_nOperationDepth = 1;
    return true;
}

void DeliveryGate::releaseOperation() noexcept {
    const std::lock_guard lock(m_mutex);
    if (--m_nOperationDepth > 0) {
        return;
    }
    m_bOperationBusy = false;
    m_operationThread = {};
    m_bQuiescing = false;
    m_changed.notify_all();
}

void DeliveryGate::stopFrames() {
    const std::lock_guard lock(m_mutex);
    m_bAccepting = false;
    m_bQuiescing = true;
    m_changed.notify_all();
}

void DeliveryGate::acceptFrames() {
    const std::lock_guard lock(m_mutex);
    m_bAccepting = true;
}

void DeliveryGate::awaitDeliveriesEnded() {
    std::unique_lock lock(m_mutex);
    if (onDeliveringThread()) {
        return;
    }
    m_changed.wait(lock, [this] { return !m_bDelivering; });
}

bool DeliveryGate::retireIfDelivering(std::unique_ptr<sdk::Buffer>& buffer) {
    const std::lock_guard lock(m_mutex);
    if (!onDeliveringThread() || buffer.get() != m_pDelivered) {
        return false;
    }
    m_retired.push_back(std::move(buffer));
    return true;
}

void DeliveryGate::markObjectDeleted() noexcept {
    const std::lock_guard lock(m_mutex);
    m_bObjectDeleted = true;
}

bool DeliveryGate::enter(sdk::Buffer* buffer) {
    std::unique_lock lock(m_mutex);
    if (onDeliveringThread()) {
        return false;
    }
    m_changed.wait(lock, [this] { return !m_bDelivering || !m_bAccepting; });
    if (!m_bAccepting) {
        return false;
    }
    m_bDelivering = true;
    m_deliveringThread = std::this_thread::get_id();
    m_pDelivered = buffer;
    return true;
}

DeliveryGate::Exit DeliveryGate::leave() {
    Exit exit;
    const std::lock_guard lock(m_mutex);
    exit.objectDeleted = m_bObjectDeleted;
    exit.bufferRetired = false;
    for (const auto& retired : m_retired) {
        exit.bufferRetired = exit.bufferRetired || retired.get() == m_pDelivered;
    }
    exit.retired = std::move(m_retired);
    m_retired.clear();
    m_bDelivering = false;
    m_deliveringThread = {};
    m_pDelivered = nullptr;
    m_changed.notify_all();
    return exit;
}

} // namespace vxcam
