// The quick reading of camera JPEGs against the decoder: pictures made by three encoders in
// the layouts cameras use must pass it, and no picture it passes may be one the decoder
// finds damaged.
#include "jpeg_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

using namespace kelvra::media;
namespace fs = std::filesystem;

namespace {

constexpr uint8_t kMarker = 0xFF, kDht = 0xC4, kSos = 0xDA;
constexpr const char* kNoisyCamera = "-vf noise=alls=40:allf=t -pix_fmt yuvj422p -huffman default -q:v 1";

struct Picture {
    std::string name;
    std::vector<uint8_t> data;
};

class Pictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("kelvra-jpeg-scan-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<uint8_t> run(const std::string& command, const std::string& file)
    {
        const fs::path out = folder_ / file;
        if (std::system((command + " 2>/dev/null").c_str()) != 0)
            return {};
        std::ifstream in(out, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // testsrc2 through ffmpeg's encoder; `options` choose the layout.
    std::vector<uint8_t> ffmpeg(const std::string& size, const std::string& options)
    {
        const std::string file = "ff" + std::to_string(made_++) + ".jpg";
        return run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size + " -frames:v 1 " + options +
                       " '" + (folder_ / file).string() + "'",
                   file);
    }

    // The same pattern through the cjpeg tool, which writes restart markers when asked.
    std::vector<uint8_t> cjpeg(const std::string& size, const std::string& options)
    {
        const fs::path ppm = folder_ / "in.ppm";
        if (!fs::exists(ppm) || lastPpmSize_ != size) {
            run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size + " -frames:v 1 '" + ppm.string() + "'",
                "in.ppm");
            lastPpmSize_ = size;
        }
        const std::string file = "cj" + std::to_string(made_++) + ".jpg";
        return run("cjpeg " + options + " -outfile '" + (folder_ / file).string() + "' '" + ppm.string() + "'", file);
    }

    fs::path folder_;
    std::string lastPpmSize_;
    int made_ = 0;
};

// As USB cameras send them: the tables left out, the decoder's standard ones meant.
std::vector<uint8_t> withoutHuffmanTables(const std::vector<uint8_t>& in)
{
    std::vector<uint8_t> out(in.begin(), in.begin() + 2);
    size_t at = 2;
    while (at + 4 <= in.size() && in[at] == kMarker && in[at + 1] != kSos) {
        const size_t length = size_t(in[at + 2]) << 8 | in[at + 3];
        if (in[at + 1] != kDht)
            out.insert(out.end(), in.begin() + long(at), in.begin() + long(at + 2 + length));
        at += 2 + length;
    }
    out.insert(out.end(), in.begin() + long(at), in.end());
    return out;
}

bool whole(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> scratch;
    return scanIsWhole(data.data(), data.size(), scratch);
}

// Damage of the kinds USB transfers cause, and some that no transfer causes, at places spread
// over the picture.
std::vector<std::vector<uint8_t>> damaged(const std::vector<uint8_t>& in, std::mt19937& random)
{
    std::vector<std::vector<uint8_t>> out;
    const size_t size = in.size();
    std::uniform_int_distribution<size_t> place(size / 8, size - 3);
    for (int i = 0; i < 6; ++i) {
        const size_t at = place(random);
        std::vector<uint8_t> cut(in.begin(), in.begin() + long(at));  // cut short, EOI put back
        cut.push_back(0xFF);
        cut.push_back(0xD9);
        out.push_back(cut);
        std::vector<uint8_t> lost = in;  // a piece of the scan lost, the rest moved up (a few bytes
        // lost can go unseen by any reader: the codes after them may fall into step again)
        lost.erase(lost.begin() + long(at), lost.begin() + long(std::min(size - 2, at + 256 + random() % 4000)));
        out.push_back(lost);
        std::vector<uint8_t> zeroed = in;  // a stretch of the buffer never filled
        std::fill(zeroed.begin() + long(at), zeroed.begin() + long(std::min(size - 2, at + 64 + random() % 512)), 0);
        out.push_back(zeroed);
    }
    std::uniform_int_distribution<size_t> anywhere(2, size - 3);
    for (int i = 0; i < 60; ++i) {
        std::vector<uint8_t> flipped = in;
        flipped[anywhere(random)] ^= uint8_t(1u << (random() % 8));
        out.push_back(flipped);
    }
    return out;
}

}  // namespace

// Layouts cameras and encoders use: 4:2:2 without tables, 4:2:0 and 4:4:4 with their own,
// grey, odd sizes, restart markers every row and every few blocks, zero padding after EOI.
TEST_F(Pictures, WholePicturesPassTheQuickReading)
{
    std::vector<Picture> pictures = {
        {"camera 4:2:2, standard tables", withoutHuffmanTables(ffmpeg("1280x720", "-pix_fmt yuvj422p -huffman default"))},
        {"camera 4:2:2, sensor noise at the finest steps",
         withoutHuffmanTables(ffmpeg("320x240", kNoisyCamera))},
        {"4:2:0, own tables", ffmpeg("333x187", "-pix_fmt yuvj420p")},
        {"4:4:4", ffmpeg("64x48", "-pix_fmt yuvj444p -q:v 2")},
        {"grey", ffmpeg("75x41", "-pix_fmt gray")},
        {"2x2", ffmpeg("2x2", "-pix_fmt yuvj420p")},
    };
    if (std::system("command -v cjpeg >/dev/null") == 0) {
        pictures.push_back({"restart every row", cjpeg("320x240", "-restart 1 -sample 2x1")});
        pictures.push_back({"restart every 3 units", cjpeg("321x239", "-restart 3B -optimize")});
        pictures.push_back({"restart every unit, grey", cjpeg("100x30", "-restart 1B -grayscale")});
        const std::vector<uint8_t> progressive = cjpeg("64x48", "-progressive");
        EXPECT_FALSE(whole(progressive)) << "a kind the quick reading leaves to the decoder";
        EXPECT_TRUE(JpegCheck().check(progressive.data(), progressive.size(), 64, 48));
    }
    JpegCheck check;
    for (Picture& p : pictures) {
        ASSERT_GT(p.data.size(), 100u) << p.name << ": the encoder made nothing";
        EXPECT_TRUE(whole(p.data)) << p.name;
        EXPECT_TRUE(check.decode(p.data.data(), p.data.size())) << p.name;
        p.data.insert(p.data.end(), 64, 0);
        EXPECT_TRUE(whole(p.data)) << p.name << ", padded";
    }
}

// A picture the quick reading passes is never one the decoder calls damaged; cut short or
// missing a piece, a picture never passes. Restart markers find the damage too.
TEST_F(Pictures, DamagedPicturesDoNotPass)
{
    std::vector<std::vector<uint8_t>> pictures = {
        withoutHuffmanTables(ffmpeg("640x480", "-pix_fmt yuvj422p -huffman default")),
        ffmpeg("320x240", "-pix_fmt yuvj420p"),
        // Without tables after one with its own: a decoder kept from one picture to the next
        // would read it with the last picture's tables.
        withoutHuffmanTables(ffmpeg("160x120", kNoisyCamera)),
    };
    if (std::vector<uint8_t> p = cjpeg("320x240", "-restart 2 -sample 2x1"); !p.empty())
        pictures.push_back(p);
    std::mt19937 random(20261208);
    JpegCheck check;
    int tried = 0, decoderFound = 0, scanFound = 0;
    for (const std::vector<uint8_t>& picture : pictures) {
        ASSERT_TRUE(whole(picture));
        const std::vector<std::vector<uint8_t>> variants = damaged(picture, random);
        for (size_t i = 0; i < variants.size(); ++i) {
            const std::vector<uint8_t>& v = variants[i];
            const bool quick = whole(v), decodes = bool(check.decode(v.data(), v.size()));
            ++tried;
            decoderFound += !decodes;
            scanFound += !quick;
            EXPECT_FALSE(quick && !decodes) << "variant " << i << " of a " << picture.size() << "-byte picture";
            if (i < 18 && i % 3 != 2) {
                EXPECT_FALSE(quick) << "cut or piece lost, variant " << i;
            }
        }
    }
    std::printf("%d damaged pictures: %d found by the quick reading, %d by the decoder\n", tried, scanFound,
                decoderFound);
}
