// An export on its own thread, at a lower priority (nice + 10), so that the windows and a
// recording going on stay live and on time.
#pragma once

#include <kelvra/export/film_export.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace kelvra::film {

class ExportJob {
public:
    // Starts at once. `notify` runs on the export's thread after each picture and at the end;
    // it must only hand work over to another thread (the window's).
    ExportJob(ExportSettings settings, std::function<void()> notify);
    ~ExportJob();  // cancels an export still running and waits for it: nothing is left behind
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    void cancel() { cancel_ = true; }
    bool finished() const { return finished_; }
    ExportProgress progress() const;
    ExportResult result() const;   // once finished()
    const ExportSettings& settings() const { return settings_; }
    void wait();

private:
    ExportSettings settings_;
    std::function<void()> notify_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    ExportProgress progress_;
    ExportResult result_;
    std::thread worker_;
};

}  // namespace kelvra::film
