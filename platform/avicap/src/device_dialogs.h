// The device dialogs of the capture window. Each is modal (platform::runModal, so timers tick
// underneath) and works on the device it was opened for.
#pragma once

#include "capture_file.h"
#include "device.h"

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace kelvra::avicap {

// The device's controls, applied as they are moved; Cancel puts back what was there.
void runVideoSourceDialog(QWidget* parent, const std::shared_ptr<Device>& device);

// Pixel format, frame size and rate from what the device offers. `refusal` names why a format
// cannot be used now (empty when it can); the dialog then stays open with that message.
void runVideoFormatDialog(QWidget* parent, const std::shared_ptr<Device>& device,
                          const std::function<std::string(const media::StreamFormat&)>& refusal);

// The compressor for the next capture file, with its quality where it has one.
void runCompressionDialog(QWidget* parent, Compression& choice, bool fileOpen);

}  // namespace kelvra::avicap
