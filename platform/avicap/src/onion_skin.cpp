#include "onion_skin.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace kelvra::avicap {

namespace {

constexpr int kBgraBytesPerPixel = 4;
// How far back past the frames asked for the search goes when some are passed over (another size,
// a damaged picture), so that a file full of strangers is not read to its start.
constexpr uint64_t kLookBehind = 20;

// Generations are unique across files, so that a view's composed layer never outlives its file.
uint64_t nextGeneration()
{
    static uint64_t generation = 0;
    return ++generation;
}

}  // namespace

double onionOpacity(int i, int n, int opacityPercent)
{
    if (n <= 0 || i < 0 || i >= n)
        return 0.0;
    return opacityPercent / 100.0 * double(n - i) / double(n);
}

FileFrames::FileFrames(std::string path, int width, int height, uint64_t count)
    : path_(std::move(path)), width_(width), height_(height), count_(count), generation_(nextGeneration())
{
}

void FileFrames::changed(uint64_t count, uint64_t firstChanged)
{
    count_ = count;
    pictures_.erase(pictures_.lower_bound(std::min(count, firstChanged)), pictures_.end());
    readerCurrent_ = false;
    generation_ = nextGeneration();
}

QImage FileFrames::read(uint64_t index)
{
    if (!readerCurrent_ || !reader_ || int64_t(index) >= reader_->count()) {
        reader_.reset();
        if (!media::StoredFrames::open(path_, reader_))
            return QImage();
        readerCurrent_ = true;
    }
    media::StoredPicture stored;
    ++decodes_;
    if (!reader_->read(int64_t(index), stored))
        return QImage();
    if (stored.ownWidth != width_ || stored.ownHeight != height_)
        return QImage();  // a stranger in the stream: it would not line up with the live picture
    const media::Frame& f = stored.picture;
    return QImage(f.data.data(), f.width, f.height, f.width * kBgraBytesPerPixel, QImage::Format_RGB32).copy();
}

std::vector<FileFrames::Picture> FileFrames::last(int n)
{
    std::vector<Picture> found;
    const uint64_t wanted = uint64_t(std::clamp(n, 0, kMaxOnionFrames));
    uint64_t index = count_;
    for (uint64_t looked = 0; index > 0 && found.size() < wanted && looked < wanted + kLookBehind; ++looked) {
        --index;
        auto it = pictures_.find(index);
        if (it == pictures_.end())
            it = pictures_.emplace(index, read(index)).first;
        if (!it->second.isNull())
            found.push_back({index, it->second});
    }
    // Only the frames shown stay decoded: full-size pictures are large.
    pictures_.erase(pictures_.begin(), pictures_.lower_bound(index));
    return found;
}

void OnionLayer::paint(QPainter& painter, const QRect& target, const std::vector<FileFrames::Picture>& frames,
                       const OnionSettings& settings, uint64_t key)
{
    if (settings.frames <= 0 || frames.empty() || target.isEmpty())
        return;
    if (target.size() != size_ || !(settings == settings_) || key != key_) {
        size_ = target.size();
        settings_ = settings;
        key_ = key;
        overlay_ = QImage();
        lastScaled_ = QImage();
        if (settings.difference) {
            lastScaled_ = frames.front().image.scaled(size_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        } else {
            overlay_ = QImage(size_, QImage::Format_ARGB32_Premultiplied);
            overlay_.fill(Qt::transparent);
            QPainter compose(&overlay_);
            compose.setRenderHint(QPainter::SmoothPixmapTransform);
            const int n = int(frames.size());
            for (int i = n - 1; i >= 0; --i) {  // oldest first: the newer ones lie over it
                compose.setOpacity(onionOpacity(i, n, settings.opacityPercent));
                compose.drawImage(overlay_.rect(), frames[size_t(i)].image);
            }
        }
    }
    if (settings.difference) {
        // |live - last frame|: what stayed is black, what moved lights up; the opacity mixes it
        // with the live picture.
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Difference);
        painter.setOpacity(settings.opacityPercent / 100.0);
        painter.drawImage(target.topLeft(), lastScaled_);
        painter.restore();
        return;
    }
    painter.drawImage(target.topLeft(), overlay_);
}

}  // namespace kelvra::avicap
