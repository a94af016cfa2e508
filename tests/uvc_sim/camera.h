// A simulated USB video class webcam as the uvcvideo driver presents it: its formats, controls,
// mmap buffers, its metadata node beside the capture node, and the faults real cameras show. The
// interposed C library calls in interpose.cpp route the camera's nodes and descriptors here;
// everything is guarded by one lock.
//
// Profiles (KELVRA_UVC_SIM_PROFILE):
//   webcam1080p  MJPEG 1920x1080, 1280x720 at up to 30 fps; YUYV 640x480 at 30, 1280x720 at 10
//   corrupt      as webcam1080p; every KELVRA_UVC_SIM_CORRUPT_EVERY-th (7) MJPEG buffer is broken:
//                empty, cut short, or missing a piece of its scan, in turn; and every one from
//                KELVRA_UVC_SIM_BURST_FROM_MS until KELVRA_UVC_SIM_BURST_UNTIL_MS after streaming
//                first starts (a bad cable's moment)
//   unplug       as webcam1080p; KELVRA_UVC_SIM_UNPLUG_AFTER_MS (2500) after streaming first starts
//                a dequeue fails with EIO, then the device is gone (ENODEV, POLLERR, no node) for
//                KELVRA_UVC_SIM_AWAY_MS (2000) and comes back as /dev/video<KELVRA_UVC_SIM_RETURN_AS>
//                (2), with its controls at their defaults, as a camera that lost power
//   dark         as webcam1080p in a dark room: with automatic exposure the camera lengthens its
//                exposure and delivers 2 fps; manual exposure keeps the chosen rate
// KELVRA_UVC_SIM_FORMAT=MJPG:1280x720@30 (or YUYV:...) is the format the camera starts in.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace uvcsim {

// Pictures of the camera at one format and size; see pictures.cpp.
std::vector<std::vector<uint8_t>> makePictures(uint32_t fourcc, uint32_t width, uint32_t height);

// The comment every simulated JPEG carries after its SOI marker, which tests read back.
constexpr const char* kCommentPrefix = "kelvra-uvc-sim";
std::string frameComment(uint64_t sequence, int node, int64_t autoExposure, int64_t exposure, int64_t autoWhiteBalance,
                         int64_t temperature);

// "/dev/videoN": a node the simulator answers for (present or not).
bool isCameraPath(const char* path);
// The names of the camera's nodes in /dev now ("video0", "video1"); none while unplugged.
std::vector<std::string> nodeNames();

// Opens a node: a new descriptor, or -1 with errno (ENOENT while that node is not there).
int cameraOpen(const char* path, int flags);
bool isCameraFd(int fd);
void cameraClose(int fd);
int cameraIoctl(int fd, unsigned long request, void* arg);
// poll on one camera descriptor: the events ready after waiting up to timeoutMs (-1: forever).
short cameraPoll(int fd, short events, int timeoutMs);

// ---- controls (controls.cpp), called with the camera's lock held ----

struct ControlValues {
    std::map<uint32_t, int64_t> values;
};
ControlValues* newControlValues();
void resetControls(ControlValues& values);
int64_t controlValue(const ControlValues& values, uint32_t id);
// The control ioctls; ENOTTY for any other request.
int controlIoctl(ControlValues& values, unsigned long request, void* arg);

}  // namespace uvcsim
