#include "WaveRolesUpdater.h"

#include "WaveFolderModel.h"
#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QScrollBar>

WaveRolesUpdater::WaveRolesUpdater(WaveFolderModel &model, QAbstractItemView &view,
                                   FileFacts &facts)
    : QObject(&view), m_model(model), m_view(view), m_viewport(view.viewport()), m_facts(facts)
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &WaveRolesUpdater::requestVisible);
    connect(&facts, &FileFacts::infoReady, &model, &WaveFolderModel::infoChanged);
    connect(&facts.loudness(), &LoudnessFacts::measured, &model, &WaveFolderModel::loudnessChanged);
    connect(&facts, &FileFacts::peaksReady, &model, &WaveFolderModel::pictureChanged);
    connect(&model, &QAbstractItemModel::modelReset, this, [this] {
        m_folderMeasured = false;
        settleSoon();
    });
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this,
            &WaveRolesUpdater::settleSoon);
    view.viewport()->installEventFilter(this);
    // A sort or a filter between the model and the view moves other entries into view.
    if (QAbstractItemModel *shown = view.model(); shown && shown != &model)
        connect(shown, &QAbstractItemModel::layoutChanged, this, &WaveRolesUpdater::settleSoon);
    settleSoon();
}

bool WaveRolesUpdater::eventFilter(QObject *watched, QEvent *event)
{
    // A taller view shows more rows.
    if (watched == m_viewport && event->type() == QEvent::Resize)
        settleSoon();
    return false;
}

void WaveRolesUpdater::requestVisible()
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
        paths.append(shown->index(row, 0).data(WaveFolderModel::PathRole).toString());
    m_facts.requestInfo(paths);
    // Loudness: the rows in view first, then, once for each listing, the folder in order.
    LoudnessFacts &loudness = m_facts.loudness();
    loudness.requestFirst(paths);
    if (!std::exchange(m_folderMeasured, true))
        loudness.requestFolder(m_model.paths());
}
