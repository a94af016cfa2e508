// Write errors: a file-size limit, a full disk, folders that cannot be written. Each gives a
// clear error, the frames written before stay readable, and a later append may succeed again.
#include "avi_test_support.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <fstream>

using namespace avitest;

namespace {

constexpr size_t kBase = 20000;
constexpr uid_t kNobody = 65534;

// A private mount namespace for the calling (child) process, or why there is none.
std::string privateMounts()
{
    if (unshare(CLONE_NEWNS) < 0)
        return std::string("skip: no mount namespace: ") + strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0)
        return std::string("skip: cannot make mounts private: ") + strerror(errno);
    return {};
}

// Records until `code` stops it, after at least `minFrames`, then lifts the cause: the frames
// before stay readable, the same writer goes on, and so does one reopened later.
std::string stopAndGoOn(const std::string& path, AviWriterOptions options, int code, uint64_t minFrames,
                        const std::function<void()>& lift)
{
    auto writer = openWriter(path, mjpegFormat(160, 120), options);
    if (!writer)
        return "open failed";
    uint64_t n = 0;
    Status st = appendFrames(*writer, 0, 1000, kBase, &n);
    if (st.code != code || st.message.find(path) == std::string::npos || n < minFrames)
        return "expected " + std::to_string(code) + " naming the file, got " + std::to_string(st.code) + " after " +
               std::to_string(n) + " frames: " + st.message;
    if (appendFrames(*writer, n, n + 1, kBase).code != code)
        return "a retry did not fail the same way";
    if (std::string bad = checkRecording(path, n, kBase); !bad.empty())
        return "after the failure: " + bad;
    lift();
    if (!(st = appendFrames(*writer, n, n + 5, kBase)) || !(st = writer->close()))
        return "after the cause was lifted: " + st.message;
    const std::string bad = record(path, n + 5, n + 8, kBase);
    return bad.empty() ? checkRecording(path, n + 8, kBase) : bad;
}

// A full disk is a small tmpfs in a private mount namespace, where the machine lets one be made.
TEST(AviErrors, AFileSizeLimitOrAFullDiskStopsTheRecordingAndLiftingItLetsItGoOn)
{
    ScratchDir dir;
    EXPECT_EQ(inChild([&](int) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{300000, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        return stopAndGoOn(dir.file("limited.avi"), fastOptions(), -EFBIG, 4, [&] {
            limit.rlim_cur = RLIM_INFINITY;
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    }), "");
    const std::string full = inChild([&](int) -> std::string {
        if (std::string why = privateMounts(); !why.empty())
            return why;
        if (mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=2m") < 0)
            return std::string("skip: cannot mount a small file system: ") + strerror(errno);
        const std::string filler = dir.file("filler");
        std::ofstream(filler, std::ios::binary) << std::string(300000, 'x');
        return stopAndGoOn(dir.file("full.avi"), {}, -ENOSPC, 50, [&] { unlink(filler.c_str()); });
    });
    if (full.rfind("skip:", 0) == 0)
        GTEST_SKIP() << "the file-size limit passed; " << full;
    EXPECT_EQ(full, "");
}

// As root permissions do not apply, so the child gives up root first; a read-only mount
// stops root as well.
TEST(AviErrors, FoldersThatCannotBeWrittenFailClearly)
{
    ScratchDir dir;
    const std::string folder = dir.file("locked"), existing = folder + "/old.avi";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(record(existing, 0, 3, kBase), "");
    const std::vector<uint8_t> before = fileBytes(existing);
    ASSERT_TRUE(chmod(existing.c_str(), 0444) == 0 && chmod(folder.c_str(), 0555) == 0 && chmod(dir.path.c_str(), 0755) == 0);
    auto tryBoth = [&](int code) -> std::string {
        for (const std::string& path : {folder + "/new.avi", existing}) {
            std::unique_ptr<AviWriter> writer;
            const Status st = AviWriter::open(path, mjpegFormat(160, 120), kUs15Fps, {}, writer);
            if (st.code != -code || st.message.find(path) == std::string::npos)
                return path + ": " + std::to_string(st.code) + ": " + st.message;
        }
        return {};
    };
    EXPECT_EQ(inChild([&](int) -> std::string {
        if (geteuid() == 0 && (setgid(kNobody) < 0 || setuid(kNobody) < 0))
            return std::string("cannot give up root: ") + strerror(errno);
        return tryBoth(EACCES);
    }), "");
    const std::string readOnly = inChild([&](int) -> std::string {
        if (std::string why = privateMounts(); !why.empty())
            return why;
        if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) < 0 ||
            mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) < 0)
            return std::string("skip: cannot mount read-only: ") + strerror(errno);
        chmod(existing.c_str(), 0644);
        return tryBoth(EROFS);
    });
    EXPECT_TRUE(readOnly.empty() || readOnly.rfind("skip:", 0) == 0) << readOnly;
    EXPECT_TRUE(fileBytes(existing) == before);
    EXPECT_EQ(checkRecording(existing, 3, kBase), "");
}

}  // namespace
