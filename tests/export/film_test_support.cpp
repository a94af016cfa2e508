#include "film_test_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/wait.h>
#include <unistd.h>

namespace film_test {

namespace fs = std::filesystem;

namespace {

constexpr int kQuality = 90;
constexpr int kSquare = 16;

uint8_t clampByte(double value)
{
    return uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

media::Frame drawPicture(int width, int height, int index, double brightness)
{
    media::Frame frame;
    frame.width = width;
    frame.height = height;
    frame.format = media::PixelFormat::RGB24;
    frame.sequence = uint64_t(index);
    frame.data.resize(size_t(width) * height * 3);
    const int squareX = (index * 3) % std::max(1, width - kSquare);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.data.data() + size_t(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            double r = 60 + 120.0 * x / width, g = 50 + 100.0 * y / height, b = 110;
            if (((x / 20) + (y / 20)) % 5 == 0)
                r = g = b = 180;
            if (x >= squareX && x < squareX + kSquare && y >= height / 3 && y < height / 3 + kSquare)
                r = g = b = 230;
            row[x * 3] = clampByte(r * brightness);
            row[x * 3 + 1] = clampByte(g * brightness);
            row[x * 3 + 2] = clampByte(b * brightness);
        }
    }
    return frame;
}

std::string appendFrames(media::AviWriter& writer, const RecordingSetup& setup, int from, int to)
{
    std::unique_ptr<media::Encoder> encoder;
    media::Status st = media::Encoder::create(setup.codec, setup.width, setup.height, kQuality, encoder);
    if (!st)
        return st.message;
    std::vector<uint8_t> bytes;
    for (int i = from; i < to; ++i) {
        bool keyframe = true;
        media::Frame picture = drawPicture(setup.width, setup.height, i, setup.brightness(i));
        if (!(st = encoder->encode(picture, bytes, keyframe)) || !(st = writer.append(bytes.data(), bytes.size(), keyframe)))
            return st.message;
    }
    return {};
}

std::string makeRecording(const std::string& path, const RecordingSetup& setup,
                          std::unique_ptr<media::AviWriter>* keepOpen)
{
    std::unique_ptr<media::Encoder> encoder;
    std::unique_ptr<media::AviWriter> writer;
    media::AviWriterOptions options;
    options.syncToDisk = false;
    media::Status st = media::Encoder::create(setup.codec, setup.width, setup.height, kQuality, encoder);
    if (st)
        st = media::AviWriter::open(path, encoder->format(), uint32_t(1000000 / setup.fps), options, writer);
    if (!st)
        return st.message;
    if (std::string why = appendFrames(*writer, setup, 0, setup.frames); !why.empty())
        return why;
    if (keepOpen) {
        *keepOpen = std::move(writer);
        return {};
    }
    st = writer->close();
    return st ? std::string() : st.message;
}

namespace {

// Top-level MP4 boxes in file order.
std::vector<std::string> topLevelBoxes(const std::string& path)
{
    std::vector<std::string> boxes;
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const uint64_t size = uint64_t(in.tellg());
    uint64_t at = 0;
    while (at + 8 <= size) {
        std::array<unsigned char, 16> head{};
        in.seekg(std::streamoff(at));
        in.read(reinterpret_cast<char*>(head.data()), 16);
        uint64_t length = (uint64_t(head[0]) << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
        if (length == 1) {
            length = 0;
            for (int i = 8; i < 16; ++i)
                length = (length << 8) | head[i];
        }
        boxes.emplace_back(reinterpret_cast<char*>(head.data()) + 4, 4);
        if (length < 8)
            break;
        at += length;
    }
    return boxes;
}

double meanOfPlane(const AVFrame* frame)
{
    double sum = 0;
    for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x)
            sum += frame->data[0][y * frame->linesize[0] + x];
    return sum / (double(frame->width) * frame->height);
}

}  // namespace

FilmFacts readFilm(const std::string& path, bool measureLuma)
{
    FilmFacts facts;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(format, nullptr) < 0) {
        avformat_close_input(&format);
        facts.error = "cannot open " + path;
        return facts;
    }
    int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&format);
        facts.error = "no video in " + path;
        return facts;
    }
    AVStream* stream = format->streams[index];
    const AVCodecParameters* par = stream->codecpar;
    facts.codec = avcodec_get_name(par->codec_id);
    const char* pixel = av_get_pix_fmt_name(AVPixelFormat(par->format));
    facts.pixelFormat = pixel ? pixel : "";
    const char* profile = avcodec_profile_name(par->codec_id, par->profile);
    facts.profile = profile ? profile : "";
    facts.width = par->width;
    facts.height = par->height;
    facts.framesPerSecond = av_q2d(stream->avg_frame_rate);
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, par);
    avcodec_open2(decoder, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            ++facts.frames;
            if (measureLuma)
                facts.meanLuma.push_back(meanOfPlane(frame));
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            avcodec_send_packet(decoder, packet);
            receive();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);

    std::vector<std::string> boxes = topLevelBoxes(path);
    auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    facts.moovBeforeMdat = moov != boxes.end() && mdat != boxes.end() && moov < mdat;
    return facts;
}

PictureFacts readPicture(const std::string& path)
{
    PictureFacts facts;
    FilmFacts film = readFilm(path);
    facts.error = film.error;
    if (film.error.empty() && film.frames != 1)
        facts.error = path + " decodes to " + std::to_string(film.frames) + " pictures";
    facts.codec = film.codec;
    facts.width = film.width;
    facts.height = film.height;
    return facts;
}

std::string ffprobe(const std::string& path, const std::string& entries)
{
    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0)
        return {};
    std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=" + entries +
                          " -of default=noprint_wrappers=1 '" + path + "' 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    return out;
}

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool exists(const std::string& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "kelvra-film-XXXXXX").string();
    path = mkdtemp(pattern.data()) ? pattern : std::string();
}

ScratchDir::~ScratchDir()
{
    std::error_code error;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    for (const auto& entry : fs::recursive_directory_iterator(path, error))
        if (entry.is_directory(error))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path, error);
}


}  // namespace film_test
