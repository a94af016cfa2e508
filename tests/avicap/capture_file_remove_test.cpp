// The capture file takes its last frame out and keeps it: put back once, as it was, until a new
// frame is appended; a file without frames refuses and stays as it is. Each state is read back
// with FFmpeg's demuxer, by the test source's capture numbers.
#include "avicap_support.h"

#include "capture_file.h"

using namespace avicap_test;
using kelvra::avicap::CaptureFile;

namespace {

class CaptureFileRemoveTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        media::StreamFormat format;
        format.format = media::PixelFormat::RGB24;
        format.width = 160;
        format.height = 120;
        ASSERT_TRUE(source_.setFormat(format));
        ASSERT_TRUE(CaptureFile::open(file_, 160, 120, {}, 66666, capture_));
    }
    // The next test source picture (capture numbers 1, 2, 3, ...) into the file.
    media::Status appendNext()
    {
        media::Frame frame;
        media::Status st = source_.grabFresh(frame, std::chrono::milliseconds(1000));
        return st ? capture_->append(frame) : st;
    }
    std::vector<uint64_t> stamps()
    {
        const ReadBack back = readBack(file_);
        EXPECT_EQ(back.headerFrames, int64_t(back.stamps.size()));
        return back.stamps;
    }

    const std::string file_ = path("remove.avi");
    media::TestSource source_;
    std::unique_ptr<CaptureFile> capture_;
};

TEST_F(CaptureFileRemoveTest, TheLastFrameComesOutAndGoesBackOnce)
{
    const QByteArray empty = contents(file_);
    const media::Status none = capture_->removeLastFrame();
    EXPECT_EQ(none.code, media::kNoFrames);
    EXPECT_NE(none.message.find("remove.avi' holds no frames to remove"), std::string::npos) << none.message;
    EXPECT_EQ(capture_->putBackRemovedFrame().code, media::kNoFrames);
    EXPECT_FALSE(capture_->canPutBack());
    EXPECT_EQ(contents(file_), empty);

    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(appendNext());
    ASSERT_TRUE(capture_->removeLastFrame());
    EXPECT_TRUE(capture_->canPutBack());
    EXPECT_EQ(stamps(), seq(1, 3));
    ASSERT_TRUE(capture_->putBackRemovedFrame());
    EXPECT_FALSE(capture_->canPutBack());
    EXPECT_EQ(stamps(), seq(1, 4));
    const media::Status twice = capture_->putBackRemovedFrame();
    EXPECT_EQ(twice.code, media::kNoFrames);
    EXPECT_NE(twice.message.find("no removed frame to put back"), std::string::npos) << twice.message;
    EXPECT_EQ(stamps(), seq(1, 4));

    // Of two frames taken out, the later one is kept.
    ASSERT_TRUE(capture_->removeLastFrame());
    ASSERT_TRUE(capture_->removeLastFrame());
    EXPECT_EQ(capture_->frames(), 2u);
    ASSERT_TRUE(capture_->putBackRemovedFrame());
    EXPECT_EQ(stamps(), seq(1, 3));
}

TEST_F(CaptureFileRemoveTest, ANewFrameDropsTheKeptOneAndAnEmptiedFileGoesOn)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(appendNext());
    ASSERT_TRUE(capture_->removeLastFrame());
    ASSERT_TRUE(appendNext());  // capture number 4
    EXPECT_FALSE(capture_->canPutBack());
    EXPECT_EQ(capture_->putBackRemovedFrame().code, media::kNoFrames);
    EXPECT_EQ(stamps(), (std::vector<uint64_t>{1, 2, 4}));

    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(capture_->removeLastFrame());
    EXPECT_EQ(capture_->frames(), 0u);
    EXPECT_TRUE(stamps().empty());
    EXPECT_EQ(capture_->removeLastFrame().code, media::kNoFrames);
    EXPECT_TRUE(capture_->canPutBack());  // a refused removal keeps what the last one took
    ASSERT_TRUE(capture_->putBackRemovedFrame());
    ASSERT_TRUE(appendNext());
    ASSERT_TRUE(capture_->close());
    EXPECT_EQ(stamps(), (std::vector<uint64_t>{1, 5}));
}

}  // namespace
