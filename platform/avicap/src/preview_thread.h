// The preview's worker: takes the device's newest frame at the preview interval, scales and
// converts it off the UI thread, and hands the picture over. The UI thread only paints.
#pragma once

#include "device.h"

#include <QImage>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kelvra::avicap {

class PreviewThread {
public:
    // Both callbacks run on the worker thread; they must only post to the UI thread.
    PreviewThread(std::function<void()> pictureReady,
                  std::function<void(const Device*, media::SourceState)> stateChanged);
    ~PreviewThread();

    // Returns once the worker no longer uses the previous device, so the caller may release it.
    void setDevice(std::shared_ptr<Device> device);
    void setEnabled(bool on);
    void setRequestedIntervalMs(unsigned ms);
    void setBox(QSize box);
    // A second, larger view (the Live View): pictures are made for it, never larger than the
    // camera's own size, and the small box gets a copy scaled down from that. Empty: none.
    void setLargeBox(QSize box);
    // The device's frame period, told at once when its format changes (the worker also reads it).
    void setDevicePeriodMs(int ms);

    // The slower of the requested interval and the device's frame period.
    int effectiveIntervalMs();
    // The newest picture, once; null when none arrived since the last call. `large` gets the
    // large box's picture (null without a large box), `frameSize` the camera frame's own size.
    QImage takePicture(QImage* large = nullptr, QSize* frameSize = nullptr);

private:
    void run();
    int effectiveIntervalMsLocked() const;
    // One look at the device; true when it had a new picture.
    bool step(const std::shared_ptr<Device>& device);

    std::function<void()> pictureReady_;
    std::function<void(const Device*, media::SourceState)> stateChanged_;

    std::mutex useMutex_;  // held by the worker while it works with the device
    std::mutex mutex_;     // guards everything below
    std::condition_variable wake_;
    bool quit_ = false;
    bool enabled_ = false;
    unsigned requestedMs_ = 0;
    QSize box_;
    QSize largeBox_;
    std::shared_ptr<Device> device_;
    uint64_t lastSequence_ = 0;
    media::SourceState lastState_ = media::SourceState::Streaming;
    int devicePeriodMs_ = 0;
    QImage picture_;
    QImage largePicture_;
    QSize frameSize_;
    bool picturePending_ = false;

    // Used by the worker only.
    media::FrameConverter converter_;
    media::Frame scratch_;

    std::thread thread_;
};

}  // namespace kelvra::avicap
