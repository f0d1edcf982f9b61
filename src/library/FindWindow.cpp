#include "FindWindow.h"

#include "Library.h"
#include "LibraryProblemLine.h"
#include "LibraryResultsModel.h"
#include "LibraryResultsView.h"
#include "files/WaveDetails.h"
#include "platform/NativeName.h"
#include "ui/LineLabel.h"
#include "ui/WindowPlacement.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWindow>

namespace {
// The most of the screen it opens at: the main window is left to be seen around it.
constexpr double mostOfScreen = 0.9;

// 12,345 as the details panel groups its bytes; none is 0.
QString grouped(qint64 count)
{
    return count == 0 ? QStringLiteral("0") : groupedBytes(count);
}
} // namespace

FindWindow::FindWindow(Library &library, LibraryResultsModel &results, QWidget *parent)
    : QWidget(parent, Qt::Window), m_library(library), m_results(results),
      m_field(new QLineEdit(this)), m_queryProblem(new LineLabel(LineLabel::Overflow::Elide, this)),
      m_view(new LibraryResultsView(this)), m_problemLine(new LibraryProblemLine(library, this)),
      m_status(new QLabel(this)), m_activity(new QLabel(this)),
      m_stop(new QPushButton(QStringLiteral("&Stop"), this)), m_emptyOffer(new QWidget(this)),
      m_offered(new LineLabel(LineLabel::Overflow::ElideMiddle, m_emptyOffer))
{
    setObjectName(QStringLiteral("Find"));
    setWindowTitle(QStringLiteral("Find"));
    winId();
    standAlone();
    m_field->setObjectName(QStringLiteral("Search"));
    m_field->setAccessibleName(QStringLiteral("Search the library"));
    m_field->setPlaceholderText(QStringLiteral("Search the library"));
    m_field->setClearButtonEnabled(true);
    m_field->installEventFilter(this);
    m_queryProblem->setObjectName(QStringLiteral("QueryProblem"));
    // However long the reason, the field keeps its width: the line ends in "…", and its
    // tooltip holds it whole.
    m_queryProblem->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QPalette red = m_queryProblem->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    m_queryProblem->setPalette(red);
    m_view->setObjectName(QStringLiteral("Results"));
    m_view->setAccessibleName(QStringLiteral("Library results"));
    m_view->setModel(&m_results);
    m_problemLine->setObjectName(QStringLiteral("Problem"));
    m_status->setObjectName(QStringLiteral("Status"));
    m_activity->setObjectName(QStringLiteral("Activity"));
    m_stop->setObjectName(QStringLiteral("Stop"));

    auto *offerText = new QLabel(QStringLiteral("No folder is in the library yet."), m_emptyOffer);
    auto *offer = new QPushButton(QStringLiteral("Add &this folder"), m_emptyOffer);
    offer->setObjectName(QStringLiteral("AddThisFolder"));
    // Which folder "this" is, beside the button; a long path keeps its own folder's name.
    m_offered->setObjectName(QStringLiteral("OfferedFolder"));
    m_offered->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto *offerRow = new QHBoxLayout(m_emptyOffer);
    offerRow->setContentsMargins(0, 0, 0, 0);
    offerRow->addWidget(offerText);
    offerRow->addWidget(m_offered, 1, Qt::AlignVCenter);
    offerRow->addWidget(offer);

    auto *top = new QHBoxLayout;
    top->addWidget(m_field, 3);
    top->addWidget(m_queryProblem, 2);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_activity);
    bottom->addWidget(m_stop);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_emptyOffer);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_problemLine);
    layout->addLayout(bottom);
    // All the columns show at the size it opens at, where the screen has room for them.
    resize(sizeHint().width(), startHeight);
    if (const QScreen *shown = screen()) {
        const QRect area = shown->availableGeometry();
        resize(std::min(width(), int(area.width() * mostOfScreen)),
               std::min(height(), int(area.height() * mostOfScreen)));
    }

    m_typing.setSingleShot(true);
    m_typing.setInterval(typingPauseMs);
    connect(m_field, &QLineEdit::textEdited, this, [this] { m_typing.start(); });
    // The clear button does not count as typing: what it leaves is searched at once.
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.isEmpty())
            search();
    });
    connect(&m_typing, &QTimer::timeout, this, &FindWindow::search);
    connect(m_field, &QLineEdit::returnPressed, this, &FindWindow::search);
    connect(&m_results, &LibraryResultsModel::hitCountChanged, this, &FindWindow::showCount);
    connect(&m_results, &LibraryResultsModel::searchFinished, this, &FindWindow::showCount);
    connect(&m_results, &LibraryResultsModel::errorChanged, this, [this](const QString &why) {
        m_queryProblem->setText(why);
        m_queryProblem->setToolTip(why);
    });
    connect(&m_library, &Library::rootsChanged, this, &FindWindow::showRoots);
    connect(&m_library, &Library::opened, this, &FindWindow::showRoots);
    connect(&m_library, &Library::progress, this, [this](qint64 done, qint64 about) {
        m_looked = done;
        m_about = std::max(done, about);
        showActivity();
    });
    connect(&m_library, &Library::indexingChanged, this, [this] {
        m_about = -1;
        showActivity();
    });
    connect(&m_library, &Library::measured, this, [this](qint64 files) {
        m_measured = files;
        showActivity();
    });
    connect(&m_library, &Library::measuringChanged, this, [this] {
        m_measured = 0;
        showActivity();
    });
    // A hit found gone: its folder is looked at again, and the store drops it.
    connect(&m_results, &LibraryResultsModel::filesGone, this, [this](const QStringList &paths) {
        QSet<QString> folders;
        for (const QString &path : paths)
            folders.insert(path.left(std::max<qsizetype>(1, path.lastIndexOf(u'/'))));
        for (const QString &folder : std::as_const(folders))
            m_library.folderChanged(folder);
    });
    connect(m_stop, &QPushButton::clicked, &m_library, &Library::stopIndexing);
    connect(offer, &QPushButton::clicked, this, &FindWindow::addCurrentFolderWanted);

    connect(m_view, &LibraryResultsView::playRequested, this,
            [this] { emit playWanted(m_view->chosen()); });
    connect(m_view, &LibraryResultsView::playOrStopRequested, this, [this] {
        if (const QModelIndex current = m_view->currentIndex(); current.isValid())
            emit playOrStopWanted(current.siblingAtColumn(0));
    });
    connect(m_view, &LibraryResultsView::addRequested, this,
            [this] { emit addWanted(chosenPaths()); });
    connect(m_view, &LibraryResultsView::dragRequested, this,
            [this] { emit dragWanted(chosenPaths()); });
    connect(m_view, &LibraryResultsView::menuRequested, this, &FindWindow::openMenu);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this,
            &FindWindow::focusField);
    showRoots();
    showCount();
    showActivity();
}

void FindWindow::showOver(QWidget *main, const QRect &keepClear)
{
    // Where it was left when it was last closed, or at first by the main window: the window
    // manager would put it somewhere new each time. Hits go onto the play list by a drag, so
    // the list is left in view where the screen has room for both.
    if (m_placed.isValid()) {
        resize(m_placed.size());
        move(m_placed.topLeft());
    } else if (main) {
        placeClearOf(this, main, keepClear);
    }
    show();
    raise();
    activateWindow();
}

void FindWindow::standAlone()
{
    // A window of its own rather than one over the main window: a chooser modal to the main
    // window and its other windows (Library folders' "&Add…") leaves it working, so that
    // "&Stop" stops a pass while a folder is being chosen. The program's own dialogs, modal
    // to the whole program, still hold it. Qt ties it to the main window again whenever it
    // makes its native window.
    if (QWindow *window = windowHandle())
        window->setTransientParent(nullptr);
}

bool FindWindow::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show)
        standAlone();
    return handled;
}

void FindWindow::hideEvent(QHideEvent *event)
{
    // Closed, not minimised.
    if (!event->spontaneous())
        m_placed = QRect(pos(), size());
    QWidget::hideEvent(event);
}

QStringList FindWindow::chosenPaths() const
{
    QStringList paths;
    // A row of a page let go (far from the view) has no path until it is read again.
    for (const QModelIndex &hit : m_view->chosen())
        if (const QString path = hit.data(LibraryResultsModel::PathRole).toString();
            !path.isEmpty())
            paths.append(path);
    return paths;
}

void FindWindow::offerFolder(const QString &folder)
{
    const QString shown = shownName(folder);
    m_offered->setText(shown);
    m_offered->setToolTip(shown);
}

void FindWindow::focusField()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

bool FindWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Down from the field goes to the hits, as in a file dialog's location bar.
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Down || key->key() == Qt::Key_PageDown) &&
            m_results.rowCount() > 0) {
            m_view->setFocus(Qt::TabFocusReason);
            if (!m_view->currentIndex().isValid())
                m_view->setCurrentIndex(m_results.index(0, 0));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FindWindow::tell(const QString &line)
{
    m_problemLine->tell(line);
}

void FindWindow::forgetTold()
{
    m_problemLine->forgetTold();
}

void FindWindow::search()
{
    m_typing.stop();
    m_problemLine->forgetTold();
    m_queryProblem->clear();
    m_queryProblem->setToolTip(QString());
    m_results.setQuery(m_field->text());
}

void FindWindow::showCount()
{
    if (m_field->text().trimmed().isEmpty()) {
        m_status->clear();
        return;
    }
    const qint64 count = m_results.hitCount();
    if (count < 0 || !m_results.error().isEmpty()) {
        m_status->clear();
        return;
    }
    m_status->setText(count == 1 ? QStringLiteral("1 file")
                                 : QStringLiteral("%1 files").arg(grouped(count)));
}

void FindWindow::showRoots()
{
    m_emptyOffer->setVisible(m_library.isOpen() && m_library.roots().isEmpty());
}

void FindWindow::showActivity()
{
    QString line;
    if (m_library.isIndexing())
        line = m_about < 0 ? QStringLiteral("Indexing\u2026")
                           : QStringLiteral("Indexing %1 of about %2 files\u2026")
                                 .arg(grouped(m_looked), grouped(m_about));
    else if (m_library.isMeasuring())
        line = m_measured == 0 ? QStringLiteral("Measuring the loudness\u2026")
                               : QStringLiteral("Measuring the loudness: %1 files so far\u2026")
                                     .arg(grouped(m_measured));
    m_activity->setText(line);
    m_activity->setVisible(!line.isEmpty());
    // Whatever runs in the library can be stopped from here, and only then.
    m_stop->setVisible(!line.isEmpty());
}

void FindWindow::openMenu(const QPoint &globalPosition)
{
    if (!m_menu) {
        m_menu = new QMenu(this);
        m_menu->setObjectName(QStringLiteral("HitMenu"));
    }
    m_menu->clear();
    const QModelIndexList hits = m_view->chosen();
    if (hits.isEmpty())
        return;
    const QString first = hits.first().data(LibraryResultsModel::PathRole).toString();
    QAction *play = m_menu->addAction(QStringLiteral("&Play"));
    QAction *add = m_menu->addAction(QStringLiteral("&Add to list"));
    m_menu->addSeparator();
    QAction *show = m_menu->addAction(QStringLiteral("Show in &folder"));
    QAction *open = m_menu->addAction(QStringLiteral("Open containing folder"));
    // Run once the menu has gone, as the main window's menus do.
    QAction *chosen = m_menu->exec(globalPosition);
    if (chosen == play)
        emit playWanted(hits);
    else if (chosen == add)
        emit addWanted(chosenPaths());
    else if (chosen == show)
        emit showInFolderWanted(first);
    else if (chosen == open)
        emit openContainingFolderWanted(first);
}
