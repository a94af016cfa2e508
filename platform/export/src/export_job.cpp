#include <kelvra/export/export_job.h>

namespace kelvra::film {

ExportJob::ExportJob(ExportSettings settings, std::function<void()> notify)
    : settings_(std::move(settings)), notify_(std::move(notify))
{
    worker_ = std::thread([this] {
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
