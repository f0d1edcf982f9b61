#include "RolesUpdater.h"

#include "FileFacts.h"
#include "LoudnessFacts.h"
#include "Scheduler.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QScrollBar>

RolesUpdater::RolesUpdater(QAbstractItemView &view, int pathRole, QAbstractItemModel &model,
                           FileFacts &facts, Answers answers,
                           std::function<void(const QStringList &)> inView)
    : QObject(&view), m_view(view), m_viewport(view.viewport()), m_pathRole(pathRole),
      m_facts(facts), m_inView(std::move(inView)), m_rows(std::make_unique<Generation>())
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &RolesUpdater::requestVisible);
    if (answers.info)
        connect(&facts, &FileFacts::infoReady, &model, std::move(answers.info));
    if (answers.picture)
        connect(&facts, &FileFacts::peaksReady, &model, std::move(answers.picture));
    if (answers.loudness)
        connect(&facts.loudness(), &LoudnessFacts::measured, &model, std::move(answers.loudness));
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this, &RolesUpdater::settleSoon);
    view.viewport()->installEventFilter(this);
    // New rows, a listing, or a sort or a filter between the model and the view: other
    // entries in view.
    if (QAbstractItemModel *shown = view.model()) {
        connect(shown, &QAbstractItemModel::modelReset, this, &RolesUpdater::settleSoon);
        connect(shown, &QAbstractItemModel::layoutChanged, this, &RolesUpdater::settleSoon);
        connect(shown, &QAbstractItemModel::rowsInserted, this, &RolesUpdater::settleSoon);
        connect(shown, &QAbstractItemModel::rowsRemoved, this, &RolesUpdater::settleSoon);
    }
    settleSoon();
}

RolesUpdater::~RolesUpdater() = default;

bool RolesUpdater::eventFilter(QObject *watched, QEvent *event)
{
    // A taller view shows more rows.
    if (watched == m_viewport && event->type() == QEvent::Resize)
        settleSoon();
    return false;
}

void RolesUpdater::requestVisible()
{
    const QAbstractItemModel *shown = m_view.model();
    if (!shown || shown->rowCount() == 0)
        return;
    const QModelIndex first = m_view.indexAt(QPoint(1, 1));
    if (!first.isValid())
        return;
    const QModelIndex last = m_view.indexAt(QPoint(1, m_view.viewport()->height() - 1));
    const int end = last.isValid() ? last.row() : shown->rowCount() - 1;
    QStringList paths;
    for (int row = first.row(); row <= end; ++row)
        paths.append(shown->index(row, 0).data(m_pathRole).toString());
    m_facts.requestInfo(*m_rows, paths, Lane::now);
    if (m_inView)
        m_inView(paths);
}
