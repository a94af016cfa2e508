#include "control_settings.h"

#include <algorithm>

namespace kelvra::avicap {

void applyControlValues(media::FrameSource& source, const std::map<uint32_t, int64_t>& values)
{
    std::vector<uint32_t> integers, modes, retry;
    for (const media::Control& control : source.controls()) {
        auto it = values.find(control.id);
        if (it == values.end() || it->second == control.value || control.type == media::ControlType::Button)
            continue;  // nothing to do: an unchanged value is not sent again
        (control.type == media::ControlType::Integer ? integers : modes).push_back(control.id);
    }
    for (uint32_t id : integers)
        if (!source.setControl(id, values.at(id)))
            retry.push_back(id);
    for (uint32_t id : modes)
        source.setControl(id, values.at(id));
    for (uint32_t id : retry)
        source.setControl(id, values.at(id));
}

std::vector<media::Control> dialogOrder(const std::vector<media::Control>& controls)
{
    auto present = [&](uint32_t id) {
        return id && std::any_of(controls.begin(), controls.end(), [id](const media::Control& c) { return c.id == id; });
    };
    std::vector<media::Control> ordered;
    for (const media::Control& control : controls) {
        if (present(control.automaticId))
            continue;  // placed with its automatic mode
        ordered.push_back(control);
        for (const media::Control& manual : controls)
            if (manual.automaticId == control.id)
                ordered.push_back(manual);
    }
    return ordered;
}

}  // namespace kelvra::avicap
