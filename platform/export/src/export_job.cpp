#include <kelvra/export/export_job.h>

#include <algorithm>
#include <cerrno>

#include <sys/resource.h>
#include <unistd.h>

namespace kelvra::film {

namespace {

// The export yields to the windows and to a recording going on, whose frame steps must keep
// their times; the threads it starts (decoder, filters, the encoder's own) inherit this.
constexpr int kBackgroundNice = 10;

void runInBackground()
{
    const pid_t thread = gettid();
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, id_t(thread));
    if (errno == 0)
        setpriority(PRIO_PROCESS, id_t(thread), std::min(now + kBackgroundNice, PRIO_MAX - 1));
}

}  // namespace

ExportJob::ExportJob(ExportSettings settings, std::function<void()> notify)
    : settings_(std::move(settings)), notify_(std::move(notify))
{
    worker_ = std::thread([this] {
        runInBackground();
        ExportResult result = exportFilm(
            settings_,
            [this](const ExportProgress& progress) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    progress_ = progress;
                }
                if (notify_)
                    notify_();
            },
            cancel_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            result_ = std::move(result);
        }
        finished_ = true;
        if (notify_)
            notify_();
    });
}

ExportJob::~ExportJob()
{
    cancel_ = true;
    wait();
}

void ExportJob::wait()
{
    if (worker_.joinable())
        worker_.join();
}

ExportProgress ExportJob::progress() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return progress_;
}

ExportResult ExportJob::result() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
}

}  // namespace kelvra::film
