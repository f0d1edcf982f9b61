#include "WaveRolesUpdater.h"

#include "WaveFolderModel.h"
#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "files/RolesUpdater.h"

#include <QAbstractItemView>

WaveRolesUpdater::WaveRolesUpdater(WaveFolderModel &model, QAbstractItemView &view,
                                   FileFacts &facts)
    : QObject(&view), m_model(model), m_facts(facts)
{
    new RolesUpdater(view, WaveFolderModel::PathRole, model, facts,
                     {[&model](const QString &path) { model.infoChanged(path); },
                      [&model](const QString &path) { model.pictureChanged(path); },
                      [&model](const QString &path) { model.loudnessChanged(path); }},
                     [this](const QStringList &paths) { inView(paths); });
    connect(&model, &QAbstractItemModel::modelReset, this, [this] { m_folderAsked = false; });
}

void WaveRolesUpdater::inView(const QStringList &paths)
{
    // Loudness: the rows in view first, then, once for each listing, the folder in order.
    LoudnessFacts &loudness = m_facts.loudness();
    loudness.requestFirst(paths);
    if (std::exchange(m_folderAsked, true))
        return;
    loudness.requestFolder(m_model.paths());
}
