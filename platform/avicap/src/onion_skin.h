// The onion skin: the last frames of the open capture file drawn over the live picture, so that
// an animator sees where the figure was. The frames are read from the file itself (a recording
// continued after a restart shows its earlier frames too), each decoded once and kept while the
// file is open; after an append only the new frame is decoded.
#pragma once

#include <kelvra/media/stored_frames.h>

#include <QImage>
#include <QSize>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QPainter;
class QRect;

namespace kelvra::avicap {

constexpr int kMaxOnionFrames = 5;

struct OnionSettings {
    int frames = 0;  // 0 = off
    int opacityPercent = 50;
    bool difference = false;  // what changed against the last frame instead of the frames themselves
    bool operator==(const OnionSettings&) const = default;
};

// The last frames of one capture file, by their number in it.
class FileFrames {
public:
    FileFrames(std::string path, int width, int height, uint64_t count);

    // The file changed: it holds `count` frames now, and those from `firstChanged` on may differ
    // from what was read before (an append or a put back: the last one; a removal: none).
    void changed(uint64_t count, uint64_t firstChanged);

    // Up to `n` of the file's last frames of its own frame size, newest first, with their
    // numbers; frames of another size or that cannot be decoded are passed over. Reads only what
    // it has not read before.
    struct Picture {
        uint64_t index = 0;
        QImage image;
    };
    std::vector<Picture> last(int n);

    uint64_t generation() const { return generation_; }  // moves on with every change
    uint64_t decodes() const { return decodes_; }        // pictures decoded so far (tests)

private:
    QImage read(uint64_t index);

    std::string path_;
    int width_, height_;
    uint64_t count_;
    uint64_t generation_;
    uint64_t decodes_ = 0;
    std::map<uint64_t, QImage> pictures_;  // a null image: passed over
    std::unique_ptr<media::StoredFrames> reader_;
    bool readerCurrent_ = false;  // the reader's index still describes the file
};

// What one view draws over its live picture, composed once per change rather than each paint.
class OnionLayer {
public:
    // Draws the onion skin for `frames` (newest first) over the picture already painted in
    // `target`. `key` names the frames' state (FileFrames::generation).
    void paint(QPainter& painter, const QRect& target, const std::vector<FileFrames::Picture>& frames,
               const OnionSettings& settings, uint64_t key);

private:
    QImage overlay_;  // premultiplied: the older frames under the newer, each at its own opacity
    QImage lastScaled_;
    QSize size_;
    OnionSettings settings_;
    uint64_t key_ = 0;
};

// The opacity of the i-th newest of n frames (i from 0): the newest at the chosen opacity, each
// older one fainter by an equal step.
double onionOpacity(int i, int n, int opacityPercent);

}  // namespace kelvra::avicap
