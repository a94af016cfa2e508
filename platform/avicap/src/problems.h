// Problems the program never asks about (no file, disk full, device gone), kept so that each is
// reported once when it begins rather than at every frame step, and withdrawn when it ends.
#pragma once

#include <array>
#include <string>

namespace kelvra::avicap {

// Device: gone or silent. Frozen: the same picture again and again. File: cannot open or write.
// Room: under a day of room left. FileName, FrameTime: a setting refused.
enum class Topic { Device, Frozen, File, Room, FileName, FrameTime, Count };

class Problems {
public:
    // True when this is a new occurrence: the topic had no problem or another one.
    bool raise(Topic topic, const std::string& text)
    {
        std::string& slot = active_[size_t(topic)];
        if (slot == text)
            return false;
        slot = text;
        last_ = text;
        ++occurrences_;
        return true;
    }
    // True when a problem of this topic was active.
    bool clear(Topic topic)
    {
        std::string& slot = active_[size_t(topic)];
        const bool was = !slot.empty();
        slot.clear();
        return was;
    }
    // Active problems, one per line, device first (it explains the others).
    std::string text() const
    {
        std::string all;
        for (const std::string& s : active_)
            if (!s.empty())
                all += (all.empty() ? "" : "\n") + s;
        return all;
    }
    const std::string& last() const { return last_; }
    int occurrences() const { return occurrences_; }

private:
    std::array<std::string, size_t(Topic::Count)> active_;
    std::string last_;
    int occurrences_ = 0;
};

}  // namespace kelvra::avicap
