#include "help_viewer.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvra::winhelp {

namespace {

constexpr int kViewerWidth = 760;
constexpr int kViewerHeight = 560;
constexpr int kOwnerGap = 16;          // pixels between the owner window and the viewer
constexpr int kExcerptContext = 48;    // characters shown on each side of a search hit
constexpr int kResultsWidth = 220;
constexpr int kPageMargin = 12;        // pixels around a page's text

QString excerptAround(const QString& text, qsizetype at, qsizetype length)
{
    qsizetype start = std::max<qsizetype>(0, at - kExcerptContext);
    qsizetype end = std::min<qsizetype>(text.size(), at + length + kExcerptContext);
    QString excerpt = text.mid(start, end - start).simplified();
    if (start > 0)
        excerpt.prepend(QStringLiteral("... "));
    if (end < text.size())
        excerpt.append(QStringLiteral(" ..."));
    return excerpt;
}

// The words of a search, to be found in any order; a text in double quotes stays one phrase.
QStringList searchTerms(const QString& query)
{
    static const QRegularExpression term(QStringLiteral("\"([^\"]+)\"|([^\\s\"]+)"));
    QStringList terms;
    for (auto it = term.globalMatch(query); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString t = (m.capturedLength(1) ? m.captured(1) : m.captured(2)).simplified();
        if (!t.isEmpty() && !terms.contains(t, Qt::CaseInsensitive))
            terms << t;
    }
    return terms;
}

bool containsAll(const QString& text, const QStringList& terms)
{
    for (const QString& t : terms)
        if (!text.contains(t, Qt::CaseInsensitive))
            return false;
    return true;
}

}  // namespace

HelpViewer::HelpViewer(QWidget* owner, const HelpLocation& location, const std::string& requested)
    : QWidget(owner, Qt::Window),
      Owner(this),
      location_(location)
{
    folder_ = QFileInfo(QString::fromStdString(location_.contents)).absolutePath();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolbar());

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter_ = splitter;
    resultsPane_ = new QWidget(splitter);
    auto* paneLayout = new QVBoxLayout(resultsPane_);
    paneLayout->setContentsMargins(4, 4, 0, 4);
    resultsTitle_ = new QLabel(resultsPane_);
    resultsTitle_->setWordWrap(true);
    results_ = new QListWidget(resultsPane_);
    // Long titles wrap inside the pane instead of being cut at its edge.
    results_->setWordWrap(true);
    results_->setTextElideMode(Qt::ElideNone);
    results_->setResizeMode(QListView::Adjust);
    results_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    paneLayout->addWidget(resultsTitle_);
    paneLayout->addWidget(results_, 1);
    resultsPane_->hide();
    connect(results_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) { openHit(results_->row(item)); });
    connect(results_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { openHit(results_->row(item)); });

    browser_ = new QTextBrowser(splitter);
    browser_->setOpenExternalLinks(true);
    browser_->setSearchPaths({folder_});
    connect(browser_, &QTextBrowser::backwardAvailable, backAction_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forwardAction_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        browser_->document()->setDocumentMargin(kPageMargin);
        QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? tr("Help") : title);
    });
    splitter->addWidget(resultsPane_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kResultsWidth, kViewerWidth - kResultsWidth});
    layout->addWidget(splitter, 1);

    resize(kViewerWidth, kViewerHeight);
    placeNear(owner);
    if (location_.found)
        showContents();
    else
        reportMissing(requested);
}

HelpViewer::~HelpViewer() = default;

QWidget* HelpViewer::buildToolbar()
{
    auto* toolbar = new QToolBar(this);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    contentsAction_ = toolbar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), tr("Contents"), this,
                                         [this] { showContents(); });
    backAction_ = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("Back"), this, [this] { back(); });
    backAction_->setShortcut(QKeySequence::Back);
    backAction_->setEnabled(false);
    forwardAction_ = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), tr("Forward"), this,
                                        [this] { forward(); });
    forwardAction_->setShortcut(QKeySequence::Forward);
    forwardAction_->setEnabled(false);
    toolbar->addSeparator();

    searchField_ = new QLineEdit(toolbar);
    searchField_->setPlaceholderText(tr("Search all topics"));
    searchField_->setClearButtonEnabled(true);
    searchField_->setMaximumWidth(260);
    toolbar->addWidget(searchField_);
    QAction* find = toolbar->addAction(tr("Find"), this, [this] { search(searchField_->text().toStdString()); });
    connect(searchField_, &QLineEdit::returnPressed, find, &QAction::trigger);
    auto* focusSearch = new QAction(this);
    focusSearch->setShortcut(QKeySequence::Find);
    connect(focusSearch, &QAction::triggered, this, [this] { searchField_->setFocus(); searchField_->selectAll(); });
    addAction(focusSearch);

    bool usable = location_.found;
    contentsAction_->setEnabled(usable);
    searchField_->setEnabled(usable);
    find->setEnabled(usable);
    return toolbar;
}

// The viewer, not the program, tells the user: the program carries on without its help.
void HelpViewer::reportMissing(const std::string& requested)
{
    QString places;
    for (const std::string& place : location_.searched)
        places += QStringLiteral("<li><tt>%1</tt></li>").arg(QString::fromStdString(place).toHtmlEscaped());
    browser_->setHtml(tr("<html><head><title>Help file not found</title></head><body>"
                         "<h2>The help file cannot be found</h2>"
                         "<p>The program asked for its help file <tt>%1</tt>, which was looked for here:</p>"
                         "<ul>%2</ul>"
                         "<p>Install the program's help folder in one of these places, or name its folder "
                         "in the KELVRA_HELP_DIR environment variable, and press Help again. The program "
                         "itself works normally without its help.</p></body></html>")
                          .arg(QString::fromStdString(requested).toHtmlEscaped(), places));
    browser_->document()->setDocumentMargin(kPageMargin);
    setWindowTitle(tr("Help file not found"));
}

void HelpViewer::placeNear(QWidget* owner)
{
    QScreen* screen = owner ? owner->screen() : this->screen();
    if (!screen)
        return;
    QRect area = screen->availableGeometry();
    QPoint at = owner ? owner->frameGeometry().topRight() + QPoint(kOwnerGap, 0) : area.topLeft();
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    move(at);
}

void HelpViewer::closeEvent(QCloseEvent* event)
{
    event->accept();
    destroyWindow();
}

std::string HelpViewer::shownText() const
{
    return browser_->toPlainText().toStdString();
}

std::string HelpViewer::currentTopic() const
{
    QUrl source = browser_->source();
    return source.isEmpty() ? std::string() : QFileInfo(source.toLocalFile()).fileName().toStdString();
}

std::string HelpViewer::currentTitle() const
{
    return browser_->documentTitle().toStdString();
}

bool HelpViewer::openTopic(const std::string& topic)
{
    if (!location_.found)
        return false;
    QString file = QDir(folder_).filePath(QFileInfo(QString::fromStdString(topic)).fileName());
    if (!QFileInfo::exists(file))
        return false;
    browser_->setSource(QUrl::fromLocalFile(file));
    return true;
}

void HelpViewer::showContents()
{
    if (location_.found)
        browser_->setSource(QUrl::fromLocalFile(QString::fromStdString(location_.contents)));
}

bool HelpViewer::back()
{
    if (!browser_->isBackwardAvailable())
        return false;
    browser_->backward();
    return true;
}

bool HelpViewer::forward()
{
    if (!browser_->isForwardAvailable())
        return false;
    browser_->forward();
    return true;
}

std::vector<std::string> HelpViewer::topics() const
{
    std::vector<std::string> names;
    if (!location_.found)
        return names;
    QString contents = QFileInfo(QString::fromStdString(location_.contents)).fileName();
    names.push_back(contents.toStdString());
    const QStringList files = QDir(folder_).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
    for (const QString& file : files)
        if (file != contents)
            names.push_back(file.toStdString());
    return names;
}

void HelpViewer::loadPages()
{
    if (pagesLoaded_)
        return;
    pagesLoaded_ = true;
    for (const std::string& topic : topics()) {
        QFile file(QDir(folder_).filePath(QString::fromStdString(topic)));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QTextDocument document;
        document.setHtml(QString::fromUtf8(file.readAll()));
        pages_.push_back({QString::fromStdString(topic), document.metaInformation(QTextDocument::DocumentTitle),
                          document.toPlainText()});
    }
}

std::vector<SearchHit> HelpViewer::search(const std::string& text)
{
    hits_.clear();
    results_->clear();
    lastSearch_ = QString::fromStdString(text).trimmed();
    if (lastSearch_.isEmpty() || !location_.found) {
        resultsPane_->hide();
        return hits_;
    }
    loadPages();
    // Every word must be on the page, in any order; pages with the words as typed come first.
    const QStringList terms = searchTerms(lastSearch_);
    std::vector<SearchHit> phrases, scattered;
    for (const Page& page : pages_) {
        if (terms.isEmpty() || !containsAll(page.text + QLatin1Char('\n') + page.title, terms))
            continue;
        qsizetype at = page.text.indexOf(lastSearch_, 0, Qt::CaseInsensitive);
        const bool phrase = at >= 0;
        qsizetype length = lastSearch_.size();
        if (!phrase) {
            at = std::max<qsizetype>(0, page.text.indexOf(terms.front(), 0, Qt::CaseInsensitive));
            length = terms.front().size();
        }
        (phrase ? phrases : scattered)
            .push_back({page.file.toStdString(), page.title.toStdString(),
                        excerptAround(page.text, at, length).toStdString()});
    }
    hits_ = std::move(phrases);
    hits_.insert(hits_.end(), scattered.begin(), scattered.end());
    for (const SearchHit& hit : hits_) {
        const QString title = QString::fromStdString(hit.title);
        auto* item = new QListWidgetItem(title.isEmpty() ? QString::fromStdString(hit.topic) : title, results_);
        item->setToolTip(QString::fromStdString(hit.excerpt));
    }
    resultsTitle_->setText(hits_.empty() ? tr("No topic contains \"%1\".").arg(lastSearch_)
                         : hits_.size() == 1 ? tr("Found in 1 topic:")
                                             : tr("Found in %1 topics:").arg(hits_.size()));
    searchField_->setText(lastSearch_);
    if (resultsPane_->isHidden()) {
        resultsPane_->show();
        splitter_->setSizes({kResultsWidth, std::max(width() - kResultsWidth, kResultsWidth)});
    }
    if (!hits_.empty())
        openHit(0);
    return hits_;
}

// Opens a hit's page with the first occurrence of the searched text selected.
void HelpViewer::openHit(int row)
{
    if (row < 0 || row >= int(hits_.size()))
        return;
    results_->setCurrentRow(row);
    openTopic(hits_[row].topic);
    browser_->moveCursor(QTextCursor::Start);
    if (!browser_->find(lastSearch_)) {
        const QStringList terms = searchTerms(lastSearch_);
        if (!terms.isEmpty())
            browser_->find(terms.front());
    }
}

}  // namespace kelvra::winhelp
