// The progress of a film export: pictures done, their rate, the time left and Cancel; at the end
// what came of it. It owns the export, which runs on its own thread, so the windows and a
// recording going on stay live meanwhile; closing it (or its media window) cancels the export.
#pragma once

#include <kelvra/export/export_job.h>

#include <QElapsedTimer>
#include <QWidget>

#include <atomic>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kelvra::mciwnd {

class ExportProgressWindow : public QWidget {
public:
    ExportProgressWindow(QWidget* owner, const film::ExportSettings& settings);
    ~ExportProgressWindow() override;

    bool running() const { return !ended_; }
    std::string outcome() const { return outcome_; }  // the closing words; empty while running
    bool succeeded() const { return succeeded_; }
    void cancel();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();
    void finish();

    std::unique_ptr<film::ExportJob> job_;
    std::atomic<bool> refreshPosted_{false};
    QElapsedTimer clock_;
    bool ended_ = false;
    bool succeeded_ = false;
    std::string outcome_;

    QLabel* frames_ = nullptr;
    QLabel* speed_ = nullptr;
    QLabel* left_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* button_ = nullptr;
};

}  // namespace kelvra::mciwnd
