#include "avi_test_support.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdarg>
#include <set>
#include <fstream>
#include <iterator>

namespace avitest {

namespace {

thread_local int gLoggedErrors = 0;

void countingLog(void* context, int level, const char* fmt, va_list args)
{
    if (level <= AV_LOG_ERROR)
        ++gLoggedErrors;
    av_log_default_callback(context, level, fmt, args);  // warnings and worse, for the reader of a failure
}

}  // namespace

std::vector<uint8_t> testFrame(uint64_t k, size_t baseSize)
{
    std::vector<uint8_t> frame(baseSize + (k * 37) % 101);
    uint32_t x = uint32_t(k * 2654435761u + 12345);
    for (uint8_t& byte : frame) {
        x = x * 1103515245u + 12345u;
        byte = uint8_t(x >> 24);
    }
    return frame;
}

std::unique_ptr<AviWriter> openWriter(const std::string& path, const AviVideoFormat& format,
                                      AviWriterOptions options, uint32_t us)
{
    std::unique_ptr<AviWriter> writer;
    const Status st = AviWriter::open(path, format, us, options, writer);
    EXPECT_TRUE(st) << path << ": " << st.message;
    return writer;
}

Status appendFrames(AviWriter& writer, uint64_t from, uint64_t to, size_t baseSize, uint64_t* appended)
{
    for (uint64_t k = from; k < to; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, baseSize);
        if (appended)
            *appended = k - from;
        if (Status st = writer.append(frame.data(), frame.size(), true); !st)
            return st;
    }
    if (appended)
        *appended = to - from;
    return Status::ok();
}

std::string record(const std::string& path, uint64_t from, uint64_t to, size_t baseSize)
{
    std::unique_ptr<AviWriter> writer;
    Status st = AviWriter::open(path, mjpegFormat(160, 120), kUs15Fps, fastOptions(), writer);
    if (st && (st = appendFrames(*writer, from, to, baseSize)))
        st = writer->close();
    return st ? std::string() : "recording " + path + ": " + st.message;
}

Readback readAvi(const std::string& path, bool useOdml, bool streamInfo)
{
    Readback r;
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(countingLog);
    gLoggedErrors = 0;
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "use_odml", useOdml ? "1" : "0", 0);
    const int ret = avformat_open_input(&ctx, path.c_str(), av_find_input_format("avi"), &options);
    av_dict_free(&options);
    if (ret < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        r.openError = av_make_error_string(text, sizeof text, ret);
        r.loggedErrors = gLoggedErrors;
        return r;
    }
    if (streamInfo)
        avformat_find_stream_info(ctx, nullptr);
    if (const AVStream* st = ctx->nb_streams ? ctx->streams[0] : nullptr) {
        r.headerFrames = st->nb_frames;
        r.indexEntries = avformat_index_get_entries_count(st);
        r.timeBase = {st->time_base.num, st->time_base.den};
        r.rate = {st->r_frame_rate.num, st->r_frame_rate.den};
        r.avgRate = {st->avg_frame_rate.num, st->avg_frame_rate.den};
    }
    AVPacket* pkt = av_packet_alloc();
    for (; av_read_frame(ctx, pkt) >= 0; av_packet_unref(pkt)) {
        r.packets.emplace_back(pkt->data, pkt->data + pkt->size);
        r.keyframes.push_back(pkt->flags & AV_PKT_FLAG_KEY);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    r.loggedErrors = gLoggedErrors;
    return r;
}

std::string describe(const Readback& r)
{
    return "open='" + r.openError + "' errors=" + std::to_string(r.loggedErrors) +
           " packets=" + std::to_string(r.packets.size()) + " header=" + std::to_string(r.headerFrames) +
           " index=" + std::to_string(r.indexEntries);
}

std::string checkFrames(const Readback& r, size_t baseSize, uint64_t first)
{
    for (size_t i = 0; i < r.packets.size(); ++i)
        if (r.packets[i] != testFrame(first + i, baseSize))
            return "packet " + std::to_string(i) + " (" + std::to_string(r.packets[i].size()) +
                   " bytes) differs from frame " + std::to_string(first + i);
    return {};
}

std::string chunkChainFault(const std::string& path, bool trailingBytes)
{
    const std::vector<uint8_t> f = fileBytes(path);
    const auto tag = [&](uint64_t at) { return std::string(f.begin() + long(at), f.begin() + long(at) + 4); };
    const auto end = [&](uint64_t at) {
        return at + 8 + (uint64_t(f[at + 4]) | uint64_t(f[at + 5]) << 8 | uint64_t(f[at + 6]) << 16 | uint64_t(f[at + 7]) << 24);
    };
    const auto where = [](const std::string& what, uint64_t at) { return what + " at " + std::to_string(at); };
    for (uint64_t riff = 0; riff < f.size();) {
        if (trailingBytes && riff > 0 && (riff + 12 > f.size() || tag(riff) != "RIFF"))
            break;
        if (riff + 12 > f.size() || tag(riff) != "RIFF" || end(riff) > f.size())
            return where("no whole RIFF", riff);
        for (uint64_t at = riff + 12; at < end(riff);) {
            if (at + 8 > end(riff) || end(at) > end(riff))
                return where("a chunk that runs past its RIFF", at);
            if (tag(at) == "LIST" && at + 12 <= end(at) && tag(at + 8) == "movi") {
                for (uint64_t chunk = at + 12; chunk < end(at);) {
                    const std::string t = chunk + 8 <= end(at) ? tag(chunk) : "";
                    if ((t != "00dc" && t != "ix00" && t != "JUNK") || end(chunk) > end(at))
                        return where("no frame, index or JUNK chunk in the movi list", chunk);
                    chunk = end(chunk) + (end(chunk) & 1);
                }
            }
            at = end(at) + (end(at) & 1);
        }
        riff = end(riff) + (end(riff) & 1);
    }
    return {};
}

namespace {

// A file that passed chunkChainFault, seen as its headers and the chunks of its movi lists.
struct Layout {
    std::vector<uint8_t> f;
    uint64_t avih = 0, strh = 0, indx = 0, dmlh = 0;  // chunk headers
    uint64_t firstMovi = 0, idx1 = 0;                 // the first RIFF's movi list and idx1
    std::vector<std::pair<uint64_t, uint32_t>> frames;  // frame chunks in file order: header, size
    std::vector<bool> inFirstRiff;
    std::set<uint64_t> stdIndexes;                    // 'ix00' chunk headers

    uint32_t u32(uint64_t at) const { return at + 4 <= f.size() ? uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 | uint32_t(f[at + 3]) << 24 : 0; }
    uint64_t u64(uint64_t at) const { return u32(at) | uint64_t(u32(at + 4)) << 32; }
    std::string tag(uint64_t at) const { return at + 4 <= f.size() ? std::string(f.begin() + long(at), f.begin() + long(at) + 4) : ""; }
    uint64_t end(uint64_t at) const { return at + 8 + u32(at + 4); }
    uint64_t next(uint64_t at) const { return end(at) + (end(at) & 1); }
    bool isList(uint64_t at, const char* type) const { return (tag(at) == "LIST" || tag(at) == "RIFF") && tag(at + 8) == type; }
    // The frame chunk with its header at `at`, if the movi lists hold one there.
    long frameAt(uint64_t at) const
    {
        const auto it = std::lower_bound(frames.begin(), frames.end(), std::pair<uint64_t, uint32_t>(at, 0));
        return it != frames.end() && it->first == at ? long(it - frames.begin()) : -1;
    }
    std::vector<uint8_t> payload(size_t k) const
    {
        return {f.begin() + long(frames[k].first + 8), f.begin() + long(frames[k].first + 8 + frames[k].second)};
    }

    void walkHeaders(uint64_t at, uint64_t stop)
    {
        for (; at + 8 <= stop; at = next(at)) {
            if (tag(at) == "avih") avih = at;
            if (tag(at) == "strh" && !strh) strh = at;
            if (tag(at) == "indx" && !indx) indx = at;
            if (tag(at) == "dmlh") dmlh = at;
            if (tag(at) == "LIST" && (isList(at, "hdrl") || isList(at, "strl") || isList(at, "odml")))
                walkHeaders(at + 12, end(at));
        }
    }
    explicit Layout(const std::string& path) : f(fileBytes(path))
    {
        for (uint64_t riff = 0; riff + 12 <= f.size() && tag(riff) == "RIFF"; riff = next(riff)) {
            for (uint64_t at = riff + 12; at + 8 <= end(riff); at = next(at)) {
                if (riff == 0 && isList(at, "hdrl"))
                    walkHeaders(at + 12, end(at));
                if (riff == 0 && tag(at) == "idx1" && !idx1)
                    idx1 = at;
                if (!isList(at, "movi"))
                    continue;
                if (riff == 0)
                    firstMovi = at;
                for (uint64_t chunk = at + 12; chunk + 8 <= end(at); chunk = next(chunk)) {
                    if (tag(chunk) == "00dc") {
                        frames.emplace_back(chunk, u32(chunk + 4));
                        inFirstRiff.push_back(riff == 0);
                    }
                    if (tag(chunk) == "ix00")
                        stdIndexes.insert(chunk);
                }
            }
        }
    }
};

std::string superIndexFault(const Layout& l, bool exact, std::vector<size_t>* listed)
{
    if (!l.indx || l.f[l.indx + 11] != 0 || l.u32(l.indx + 8) != 4)
        return "no super index";
    const uint32_t entries = l.u32(l.indx + 12);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t e = l.indx + 32 + uint64_t(i) * 16, ix = l.u64(e);
        const uint32_t duration = l.u32(e + 12);
        const std::string which = "super index entry " + std::to_string(i);
        if (!l.stdIndexes.count(ix) || l.u32(e + 8) != l.u32(ix + 4) + 8)
            return which + " names no index chunk of its size";
        const uint32_t inUse = l.u32(ix + 12), capacity = (l.u32(ix + 4) - 24) / 8;
        if (exact ? duration != inUse : duration > capacity)
            return which + " says " + std::to_string(duration) + " frames, its index holds " + std::to_string(inUse);
        for (uint32_t k = 0; k < duration; ++k) {
            const uint64_t base = l.u64(ix + 20), entry = ix + 32 + uint64_t(k) * 8;
            const long frame = l.frameAt(base + l.u32(entry) - 8);
            if (frame < 0 || l.frames[size_t(frame)].second != (l.u32(entry + 4) & 0x7FFFFFFFu))
                return which + ": entry " + std::to_string(k) + " of its index names no frame chunk of its size";
            if (listed)
                listed->push_back(size_t(frame));
        }
    }
    return {};
}

std::string countsFault(const Layout& l, uint64_t total)
{
    const uint64_t firstRiff = uint64_t(std::count(l.inFirstRiff.begin(), l.inFirstRiff.end(), true));
    if (!l.avih || !l.strh || !l.dmlh)
        return "no avih, strh or dmlh";
    if (l.u32(l.dmlh + 8) != total || l.u32(l.strh + 8 + 32) != total || l.u32(l.avih + 8 + 16) != firstRiff)
        return "dmlh " + std::to_string(l.u32(l.dmlh + 8)) + ", strh " + std::to_string(l.u32(l.strh + 8 + 32)) +
               " and avih " + std::to_string(l.u32(l.avih + 8 + 16)) + " for " + std::to_string(total) + " frames, " +
               std::to_string(firstRiff) + " in the first RIFF";
    if (!l.idx1)
        return "no idx1";
    uint64_t n = 0;
    for (uint64_t e = l.idx1 + 8; e + 16 <= l.end(l.idx1); e += 16) {
        if (l.tag(e) != "00dc")
            continue;
        const long frame = l.frameAt(l.firstMovi + 8 + l.u32(e + 8));
        if (frame != long(n) || l.frames[size_t(frame)].second != l.u32(e + 12))
            return "idx1 entry " + std::to_string(n) + " names no frame chunk, or not frame " + std::to_string(n);
        ++n;
    }
    return n == firstRiff ? "" : "idx1 lists " + std::to_string(n) + " of the first RIFF's " + std::to_string(firstRiff) + " frames";
}

}  // namespace

std::string indexFault(const std::string& path)
{
    if (std::string fault = chunkChainFault(path); !fault.empty())
        return fault;
    const Layout l(path);
    std::vector<size_t> listed;
    if (std::string fault = superIndexFault(l, true, &listed); !fault.empty())
        return fault;
    for (size_t k = 0; k < std::max(listed.size(), l.frames.size()); ++k)
        if (k >= listed.size() || listed[k] != k)
            return "the indexes list " + std::to_string(listed.size()) + " frames, the movi lists hold " +
                   std::to_string(l.frames.size()) + "; they part at frame " + std::to_string(k);
    return countsFault(l, listed.size());
}

std::vector<std::vector<uint8_t>> chunkPackets(const std::string& path, std::string& fault)
{
    std::vector<std::vector<uint8_t>> packets;
    if (!(fault = chunkChainFault(path, true)).empty())
        return packets;
    const Layout l(path);
    for (size_t k = 0; k < l.frames.size(); ++k)
        packets.push_back(l.payload(k));
    return packets;
}

std::vector<std::vector<uint8_t>> superIndexPackets(const std::string& path, std::string& fault)
{
    std::vector<std::vector<uint8_t>> packets;
    if (!(fault = chunkChainFault(path, true)).empty())
        return packets;
    const Layout l(path);
    std::vector<size_t> listed;
    if (!(fault = superIndexFault(l, false, &listed)).empty())
        return packets;
    for (size_t k : listed)
        packets.push_back(l.payload(k));
    return packets;
}

std::string checkRecording(const std::string& path, uint64_t frames, size_t baseSize)
{
    if (std::string fault = chunkChainFault(path); !fault.empty())
        return "read chunk by chunk: " + fault;
    if (std::string fault = indexFault(path); !fault.empty())
        return "indexes: " + fault;
    const Readback r = readAvi(path);
    if (!r.openError.empty() || r.loggedErrors || r.packets.size() != frames || r.headerFrames != int64_t(frames))
        return "expected " + std::to_string(frames) + " frames: " + describe(r);
    return checkFrames(r, baseSize);
}

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> bytes(in ? size_t(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}


}  // namespace avitest
