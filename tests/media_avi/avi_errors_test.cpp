// Write errors: a file-size limit, a full disk, folders that cannot be written. Each gives a
// clear error, the frames written before stay readable, and a later append may succeed again.
#include "avi_test_support.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

using namespace kelvra::media;
using namespace avitest;

namespace {

constexpr size_t kBase = 20000;
constexpr uid_t kNobody = 65534;

void record(const std::string& path, uint64_t from, uint64_t to)
{
    std::unique_ptr<AviWriter> writer;
    AviWriterOptions options;
    options.syncToDisk = false;
    ASSERT_TRUE(AviWriter::open(path, mjpegFormat(160, 120), 66666, options, writer));
    for (uint64_t k = from; k < to; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kBase);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), true));
    }
    ASSERT_TRUE(writer->close());
}

// Appends until the first failure; returns its status and how many frames made it.
Status appendUntilFailure(AviWriter& writer, uint64_t from, uint64_t limit, uint64_t& appended)
{
    appended = 0;
    for (uint64_t k = from; k < from + limit; ++k, ++appended) {
        const std::vector<uint8_t> frame = testFrame(k, kBase);
        Status st = writer.append(frame.data(), frame.size(), true);
        if (!st)
            return st;
    }
    return Status::ok();
}

std::string checkRecording(const std::string& path, uint64_t frames)
{
    const Readback r = readAvi(path);
    if (!r.openError.empty() || r.loggedErrors || r.packets.size() != frames || r.headerFrames != int64_t(frames))
        return "expected " + std::to_string(frames) + " frames, read " + std::to_string(r.packets.size()) +
               " (header " + std::to_string(r.headerFrames) + ", errors " + std::to_string(r.loggedErrors) + ")";
    return checkFrames(r, kBase);
}

// A private mount namespace for the calling (child) process, or why there is none.
std::string privateMounts()
{
    if (unshare(CLONE_NEWNS) < 0)
        return std::string("skip: no mount namespace: ") + strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0)
        return std::string("skip: cannot make mounts private: ") + strerror(errno);
    return {};
}

TEST(AviErrors, AFileSizeLimitStopsTheRecordingCleanly)
{
    ScratchDir dir;
    const std::string path = dir.file("limited.avi");
    record(path, 0, 5);
    const off_t before = off_t(fileBytes(path).size());
    uint64_t appended = 0;
    const std::string result = inChild([&]() -> std::string {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(before + 300000), rlim_t(before + 300000)};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::unique_ptr<AviWriter> writer;
        AviWriterOptions options;
        options.syncToDisk = false;
        Status st = AviWriter::open(path, mjpegFormat(160, 120), 66666, options, writer);
        if (!st)
            return "open failed: " + st.message;
        st = appendUntilFailure(*writer, 5, 1000, appended);
        if (st.code != -EFBIG || st.message.find(path) == std::string::npos)
            return "expected EFBIG naming the file, got " + std::to_string(st.code) + ": " + st.message;
        const std::vector<uint8_t> frame = testFrame(5 + appended, kBase);
        if (writer->append(frame.data(), frame.size(), true).code != -EFBIG)
            return "a retry under the same limit did not fail the same way";
        return "appended " + std::to_string(appended);
    });
    ASSERT_EQ(result.rfind("appended ", 0), 0u) << result;
    appended = std::stoull(result.substr(9));
    EXPECT_GT(appended, 3u);
    EXPECT_EQ(checkRecording(path, 5 + appended), "");
    record(path, 5 + appended, 8 + appended);  // without the limit the recording goes on
    EXPECT_EQ(checkRecording(path, 8 + appended), "");
}

TEST(AviErrors, AFullDiskStopsTheRecordingAndFreedSpaceLetsItGoOn)
{
    ScratchDir dir;
    const std::string result = inChild([&]() -> std::string {
        std::string why = privateMounts();
        if (!why.empty())
            return why;
        if (mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=2m") < 0)
            return std::string("skip: cannot mount a small file system: ") + strerror(errno);
        const std::string path = dir.file("full.avi"), filler = dir.file("filler");
        std::ofstream(filler, std::ios::binary) << std::string(300000, 'x');
        std::unique_ptr<AviWriter> writer;
        Status st = AviWriter::open(path, mjpegFormat(160, 120), 66666, {}, writer);
        if (!st)
            return "open failed: " + st.message;
        uint64_t appended = 0;
        st = appendUntilFailure(*writer, 0, 1000, appended);
        if (st.code != -ENOSPC || st.message.find(path) == std::string::npos)
            return "expected ENOSPC naming the file, got " + std::to_string(st.code) + ": " + st.message;
        if (appended < 50)
            return "only " + std::to_string(appended) + " frames fit";
        if (std::string bad = checkRecording(path, appended); !bad.empty())
            return "after the disk filled up: " + bad;
        unlink(filler.c_str());
        uint64_t more = 0;
        if (!(st = appendUntilFailure(*writer, appended, 5, more)) || !(st = writer->close()))
            return "after space was freed: " + st.message;
        if (std::string bad = checkRecording(path, appended + more); !bad.empty())
            return "after space was freed: " + bad;
        return {};
    });
    if (result.rfind("skip:", 0) == 0)
        GTEST_SKIP() << result;
    EXPECT_EQ(result, "");
}

// As root permissions do not apply, so the child gives up root first; a read-only mount
// stops root as well.
TEST(AviErrors, FoldersThatCannotBeWrittenFailClearly)
{
    ScratchDir dir;
    const std::string folder = dir.file("locked"), existing = folder + "/old.avi";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    record(existing, 0, 3);
    const std::vector<uint8_t> before = fileBytes(existing);
    ASSERT_EQ(chmod(existing.c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    auto tryBoth = [&](int code) -> std::string {
        std::unique_ptr<AviWriter> writer;
        const Status created = AviWriter::open(folder + "/new.avi", mjpegFormat(160, 120), 66666, {}, writer);
        if (created.code != -code || created.message.find(folder + "/new.avi") == std::string::npos)
            return "new file: " + std::to_string(created.code) + ": " + created.message;
        const Status opened = AviWriter::open(existing, mjpegFormat(160, 120), 66666, {}, writer);
        if (opened.code != -code || opened.message.find(existing) == std::string::npos)
            return "existing file: " + std::to_string(opened.code) + ": " + opened.message;
        return {};
    };
    EXPECT_EQ(inChild([&]() -> std::string {
        if (geteuid() == 0 && (setgid(kNobody) < 0 || setuid(kNobody) < 0))
            return std::string("cannot give up root: ") + strerror(errno);
        return tryBoth(EACCES);
    }), "");
    const std::string readOnly = inChild([&]() -> std::string {
        std::string why = privateMounts();
        if (!why.empty())
            return why;
        if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) < 0 ||
            mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) < 0)
            return std::string("skip: cannot mount read-only: ") + strerror(errno);
        chmod(existing.c_str(), 0644);
        return tryBoth(EROFS);
    });
    if (readOnly.rfind("skip:", 0) != 0) {
        EXPECT_EQ(readOnly, "");
    }
    EXPECT_TRUE(fileBytes(existing) == before);
    EXPECT_EQ(readAvi(existing).packets.size(), 3u);
}

}  // namespace
