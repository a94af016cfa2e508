#include "capture_menu.h"

#include "capture_window.h"
#include "replay.h"

#include <QActionGroup>
#include <QMenu>

#include <functional>

namespace kelvra::avicap {

namespace {

constexpr int kOpacityChoices[] = {25, 50, 75, 100};
constexpr int kPlayChoices[] = {5, 10, 20, 50};

QString framesText(int n)
{
    return n == 1 ? QStringLiteral("1 Frame") : QStringLiteral("%1 Frames").arg(n);
}

// The entry's name without its key hint ("Play Last Frames\tP" -> "Play Last Frames").
std::string entryName(const QAction* action)
{
    return action->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')).toStdString();
}

void collect(QMenu* menu, const std::string& prefix, std::vector<CaptureMenu::Entry>& out,
             std::vector<QAction*>* actions)
{
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        const std::string path = prefix + entryName(action);
        out.push_back({path, action->isEnabled(), action->isCheckable(), action->isChecked()});
        if (actions)
            actions->push_back(action);
        if (action->menu())
            collect(action->menu(), path + "/", out, actions);
    }
}

}  // namespace

CaptureMenu::CaptureMenu(CaptureWindow& window) : window_(window), menu_(new QMenu(&window))
{
    liveView_ = menu_->addAction(QStringLiteral("Live View\tDouble-click"), [this] { window_.openLiveView(); });
    menu_->addSeparator();
    buildOnionMenu();
    buildPlayMenu();
    menu_->addSeparator();
    remove_ = menu_->addAction(QStringLiteral("Remove Last Frame\tBackspace"), [this] { window_.removeLastFrame(); });
    putBack_ = menu_->addAction(QStringLiteral("Put Back Removed Frame"), [this] { window_.putBackRemovedFrame(); });
    menu_->addSeparator();
    timeLapseRefresh_ = addTimeLapseEntries(*menu_, window_);
    QObject::connect(menu_, &QMenu::aboutToShow, menu_, [this] { refresh(); });
}

CaptureMenu::~CaptureMenu() = default;  // the menu is the window's child and goes with it

void CaptureMenu::buildOnionMenu()
{
    QMenu* onion = menu_->addMenu(QStringLiteral("Onion Skin"));
    onionFrames_ = new QActionGroup(onion);
    for (int n = 0; n <= kMaxOnionFrames; ++n) {
        QAction* a = onion->addAction(n == 0 ? QStringLiteral("Off") : framesText(n));
        a->setCheckable(true);
        a->setData(n);
        onionFrames_->addAction(a);
        QObject::connect(a, &QAction::triggered, onion, [this, n] {
            OnionSettings s = window_.onion();
            s.frames = n;
            window_.setOnion(s);
        });
    }
    onion->addSeparator();
    onionOpacity_ = new QActionGroup(onion);
    for (int percent : kOpacityChoices) {
        QAction* a = onion->addAction(QStringLiteral("Opacity %1%").arg(percent));
        a->setCheckable(true);
        a->setData(percent);
        onionOpacity_->addAction(a);
        QObject::connect(a, &QAction::triggered, onion, [this, percent] {
            OnionSettings s = window_.onion();
            s.opacityPercent = percent;
            window_.setOnion(s);
        });
    }
    onion->addSeparator();
    difference_ = onion->addAction(QStringLiteral("Difference"));
    difference_->setCheckable(true);
    QObject::connect(difference_, &QAction::triggered, onion, [this](bool on) {
        OnionSettings s = window_.onion();
        s.difference = on;
        if (on && s.frames == 0)
            s.frames = 1;  // asking for the difference asks for the last frame to be shown
        window_.setOnion(s);
    });
}

void CaptureMenu::buildPlayMenu()
{
    play_ = menu_->addAction(QStringLiteral("Play Last Frames\tP"), [this] { window_.playLastFrames(); });
    playLast_ = menu_->addMenu(QStringLiteral("Play Last"));
    playFrames_ = new QActionGroup(playLast_);
    for (int n : kPlayChoices) {
        QAction* a = playLast_->addAction(framesText(n));
        a->setCheckable(true);
        a->setData(n);
        playFrames_->addAction(a);
        QObject::connect(a, &QAction::triggered, playLast_, [this, n] { window_.setPlayFrames(n); });
    }
    loop_ = menu_->addAction(QStringLiteral("Loop"));
    loop_->setCheckable(true);
    QObject::connect(loop_, &QAction::triggered, menu_, [this](bool on) { window_.setLoop(on); });
    stop_ = menu_->addAction(QStringLiteral("Stop Playing"), [this] { window_.stopPlaying(); });
}

void CaptureMenu::refresh()
{
    liveView_->setEnabled(!window_.liveView());
    const OnionSettings& onion = window_.onion();
    for (QAction* a : onionFrames_->actions())
        a->setChecked(a->data().toInt() == onion.frames);
    for (QAction* a : onionOpacity_->actions())
        a->setChecked(a->data().toInt() == onion.opacityPercent);
    difference_->setChecked(onion.difference);
    const bool hasFrames = window_.canRemove();
    play_->setEnabled(hasFrames);
    for (QAction* a : playFrames_->actions())
        a->setChecked(a->data().toInt() == window_.playFrames());
    loop_->setChecked(window_.loop());
    stop_->setEnabled(window_.playing());
    remove_->setEnabled(hasFrames);
    putBack_->setEnabled(window_.canPutBack());
    timeLapseRefresh_();
}

void CaptureMenu::popup(const QPoint& globalPos)
{
    menu_->popup(globalPos);
}

std::vector<CaptureMenu::Entry> CaptureMenu::entries()
{
    refresh();
    std::vector<Entry> out;
    collect(menu_, "", out, nullptr);
    return out;
}

bool CaptureMenu::trigger(const std::string& path)
{
    refresh();
    std::vector<Entry> out;
    std::vector<QAction*> actions;
    collect(menu_, "", out, &actions);
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i].path != path)
            continue;
        if (!actions[i]->isEnabled() || actions[i]->menu())
            return false;
        actions[i]->trigger();
        return true;
    }
    return false;
}

}  // namespace kelvra::avicap
