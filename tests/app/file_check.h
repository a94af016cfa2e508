// Reads a capture file back with FFmpeg's demuxer: frame count, rate, and the test source's
// stamps of every frame.
#pragma once

#include <kelvra/media/test_source.h>
#include <kelvra/media/video_reader.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct AviCheck {
    int frames = -1;           // video packets the demuxer reads
    int64_t rateNum = 0, rateDen = 1;  // the stream's frame rate
    std::vector<uint64_t> stamps;      // capture numbers read from the pictures
};

inline AviCheck checkAvi(const std::string& path)
{
    AviCheck result;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot open " << path;
        return result;
    }
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        int video = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0) {
            AVRational rate = ctx->streams[video]->avg_frame_rate;
            result.rateNum = rate.num;
            result.rateDen = rate.den;
            result.frames = 0;
            AVPacket* packet = av_packet_alloc();
            while (av_read_frame(ctx, packet) >= 0) {
                if (packet->stream_index == video)
                    ++result.frames;
                av_packet_unref(packet);
            }
            av_packet_free(&packet);
        }
    }
    avformat_close_input(&ctx);

    std::unique_ptr<kelvra::media::VideoReader> reader;
    if (kelvra::media::VideoReader::open(path, reader)) {
        kelvra::media::Frame frame;
        while (reader->readNext(frame)) {
            uint64_t sequence = 0, timeMs = 0;
            if (kelvra::media::readTestStamp(frame, sequence, timeMs))
                result.stamps.push_back(sequence);
        }
    }
    return result;
}
