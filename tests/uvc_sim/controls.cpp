// The webcam's controls as uvcvideo reports them: class headings in the enumeration, integers
// with their step, booleans, menus with holes (auto exposure offers only manual and aperture
// priority, as UVC cameras do), manual values inactive while their automatic control is on and
// refused then with EACCES; integers are clamped and rounded to their step, not refused.
#include "camera.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace uvcsim {

namespace {

constexpr uint32_t kClassFlags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;

struct ControlDesc {
    uint32_t id;
    uint32_t type;
    const char* name;
    int32_t minimum, maximum, step, defaultValue;
    uint32_t master = 0;        // the automatic control that makes this one inactive
    int64_t activeWhen = 0;     // ... unless the master has this value
    std::vector<const char*> menu = {};  // by index from minimum; null: the camera does not offer it
};

const std::vector<ControlDesc>& table()
{
    static const std::vector<ControlDesc> controls = {
        {V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0},
        {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 1, 128},
        {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255, 1, 128},
        {V4L2_CID_SATURATION, V4L2_CTRL_TYPE_INTEGER, "Saturation", 0, 255, 1, 128},
        {V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -180, 180, 1, 0},
        {V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0, 1, 1, 1},
        {V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 255, 1, 0},
        {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 2, 0, 0,
         {"Disabled", "50 Hz", "60 Hz"}},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER, "White Balance Temperature", 2000, 6500, 1,
         4000, V4L2_CID_AUTO_WHITE_BALANCE, 0},
        {V4L2_CID_SHARPNESS, V4L2_CTRL_TYPE_INTEGER, "Sharpness", 0, 255, 1, 128},
        {V4L2_CID_BACKLIGHT_COMPENSATION, V4L2_CTRL_TYPE_INTEGER, "Backlight Compensation", 0, 1, 1, 0},
        {V4L2_CID_CAMERA_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "Camera Controls", 0, 0, 0, 0},
        {V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY, 0, 0,
         {nullptr, "Manual Mode", nullptr, "Aperture Priority Mode"}},
        {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 3, 2047, 1, 250,
         V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
        {V4L2_CID_EXPOSURE_AUTO_PRIORITY, V4L2_CTRL_TYPE_BOOLEAN, "Exposure, Dynamic Framerate", 0, 1, 1, 0},
        {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Focus, Absolute", 0, 250, 5, 0, V4L2_CID_FOCUS_AUTO, 0},
        {V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN, "Focus, Automatic Continuous", 0, 1, 1, 1},
        {V4L2_CID_ZOOM_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Zoom, Absolute", 100, 500, 1, 100},
    };
    return controls;
}

const ControlDesc* find(uint32_t id)
{
    for (const ControlDesc& c : table())
        if (c.id == id)
            return &c;
    return nullptr;
}

// The first control after `id` in id order, as V4L2_CTRL_FLAG_NEXT_CTRL asks.
const ControlDesc* next(uint32_t id)
{
    const ControlDesc* best = nullptr;
    for (const ControlDesc& c : table())
        if (c.id > id && (!best || c.id < best->id))
            best = &c;
    return best;
}

int fail(int err)
{
    errno = err;
    return -1;
}

}  // namespace

ControlValues* newControlValues()
{
    auto* v = new ControlValues;
    resetControls(*v);
    return v;
}

void resetControls(ControlValues& v)
{
    v.values.clear();
    for (const ControlDesc& c : table())
        v.values[c.id] = c.defaultValue;
}

int64_t controlValue(const ControlValues& v, uint32_t id)
{
    auto it = v.values.find(id);
    return it == v.values.end() ? 0 : it->second;
}

namespace {

uint32_t flagsOf(const ControlValues& v, const ControlDesc& c)
{
    if (c.type == V4L2_CTRL_TYPE_CTRL_CLASS)
        return kClassFlags;
    if (c.master && controlValue(v, c.master) != c.activeWhen)
        return V4L2_CTRL_FLAG_INACTIVE;
    return 0;
}

const ControlDesc* queried(uint32_t requested)
{
    const uint32_t id = requested & V4L2_CTRL_ID_MASK;
    return (requested & (V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND)) ? next(id) : find(id);
}

int queryExt(const ControlValues& v, v4l2_query_ext_ctrl& q)
{
    const ControlDesc* c = queried(q.id);
    if (!c)
        return fail(EINVAL);
    q = {};
    q.id = c->id;
    q.type = c->type;
    std::strncpy(q.name, c->name, sizeof q.name - 1);
    q.minimum = c->minimum;
    q.maximum = c->maximum;
    q.step = uint64_t(c->step);
    q.default_value = c->defaultValue;
    q.flags = flagsOf(v, *c);
    q.elems = 1;
    q.elem_size = sizeof(int32_t);
    return 0;
}

int query(const ControlValues& v, v4l2_queryctrl& q)
{
    v4l2_query_ext_ctrl ext{};
    ext.id = q.id;
    if (queryExt(v, ext) < 0)
        return -1;
    q = {};
    q.id = ext.id;
    q.type = ext.type;
    std::memcpy(q.name, ext.name, sizeof q.name - 1);
    q.minimum = int32_t(ext.minimum);
    q.maximum = int32_t(ext.maximum);
    q.step = int32_t(ext.step);
    q.default_value = int32_t(ext.default_value);
    q.flags = ext.flags;
    return 0;
}

int queryMenu(v4l2_querymenu& m)
{
    const ControlDesc* c = find(m.id);
    if (!c || c->type != V4L2_CTRL_TYPE_MENU || int64_t(m.index) < c->minimum || int64_t(m.index) > c->maximum)
        return fail(EINVAL);
    const char* name = c->menu[m.index - uint32_t(c->minimum)];
    if (!name)
        return fail(EINVAL);  // a hole: the camera does not offer this mode
    std::memset(m.name, 0, sizeof m.name);
    std::strncpy(reinterpret_cast<char*>(m.name), name, sizeof m.name - 1);
    m.reserved = 0;
    return 0;
}

int getControl(const ControlValues& v, uint32_t id, int32_t& value)
{
    const ControlDesc* c = find(id);
    if (!c)
        return fail(EINVAL);
    if (c->type == V4L2_CTRL_TYPE_CTRL_CLASS)
        return fail(EACCES);
    value = int32_t(controlValue(v, id));
    return 0;
}

// Applies a value as the camera takes it; `value` comes back as set.
int setControl(ControlValues& v, uint32_t id, int32_t& value, bool apply)
{
    const ControlDesc* c = find(id);
    if (!c)
        return fail(EINVAL);
    if (c->type == V4L2_CTRL_TYPE_CTRL_CLASS || (flagsOf(v, *c) & V4L2_CTRL_FLAG_INACTIVE))
        return fail(EACCES);
    if (c->type == V4L2_CTRL_TYPE_MENU) {
        if (value < c->minimum || value > c->maximum || !c->menu[size_t(value - c->minimum)])
            return fail(EINVAL);
    } else {
        const int64_t clamped = std::clamp<int64_t>(value, c->minimum, c->maximum);
        value = int32_t(c->minimum + (clamped - c->minimum + c->step / 2) / c->step * c->step);
        value = std::min(value, c->maximum);
    }
    if (apply)
        v.values[id] = value;
    return 0;
}

int extControls(ControlValues& v, unsigned long request, v4l2_ext_controls& ext)
{
    for (uint32_t i = 0; i < ext.count; ++i) {
        v4l2_ext_control& c = ext.controls[i];
        int32_t value = c.value;  // the structure is packed
        const int ret = request == VIDIOC_G_EXT_CTRLS ? getControl(v, c.id, value)
                                                      : setControl(v, c.id, value, request == VIDIOC_S_EXT_CTRLS);
        c.value = value;
        if (ret < 0) {
            ext.error_idx = i;
            return ret;
        }
    }
    return 0;
}

}  // namespace

int controlIoctl(ControlValues& v, unsigned long request, void* arg)
{
    switch (request) {
    case VIDIOC_QUERY_EXT_CTRL: return queryExt(v, *static_cast<v4l2_query_ext_ctrl*>(arg));
    case VIDIOC_QUERYCTRL: return query(v, *static_cast<v4l2_queryctrl*>(arg));
    case VIDIOC_QUERYMENU: return queryMenu(*static_cast<v4l2_querymenu*>(arg));
    case VIDIOC_G_CTRL: {
        auto& c = *static_cast<v4l2_control*>(arg);
        return getControl(v, c.id, c.value);
    }
    case VIDIOC_S_CTRL: {
        auto& c = *static_cast<v4l2_control*>(arg);
        return setControl(v, c.id, c.value, true);
    }
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
    case VIDIOC_TRY_EXT_CTRLS: return extControls(v, request, *static_cast<v4l2_ext_controls*>(arg));
    default: return fail(ENOTTY);
    }
}

}  // namespace uvcsim
