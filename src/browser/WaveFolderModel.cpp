#include "WaveFolderModel.h"

#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "platform/FileUris.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "ui/ListSelection.h"

WaveFolderModel::WaveFolderModel(QObject *parent) : QAbstractListModel(parent) {}

void WaveFolderModel::setFacts(FileFacts *facts)
{
    m_facts = facts;
    connect(facts, &FileFacts::infoReady, this, &WaveFolderModel::factsArrived);
    connect(&facts->loudness(), &LoudnessFacts::measured, this,
            [this](const QString &path) { rowChanged(path, {DamagedRole}); });
}

void WaveFolderModel::setEntries(const QString &folder, const QStringList &names)
{
    beginResetModel();
    m_folder = folder;
    m_names = names;
    m_rows.clear();
    endResetModel();
}

QString WaveFolderModel::path(int row) const
{
    return row >= 0 && row < m_names.size() ? fullPath(m_folder, m_names[row]) : QString();
}

int WaveFolderModel::rowOf(const QString &name) const
{
    if (m_rows.isEmpty() && !m_names.isEmpty()) {
        m_rows.reserve(m_names.size());
        for (int row = 0; row < m_names.size(); ++row)
            m_rows.insert(m_names[row], row);
    }
    return m_rows.value(name, -1);
}

void WaveFolderModel::factsArrived(const QString &path)
{
    rowChanged(path, {PlayableRole, ProblemRole});
}

void WaveFolderModel::rowChanged(const QString &path, const QList<int> &roles)
{
    const QString name = fileNameOf(path);
    if (fullPath(m_folder, name) != path)
        return; // another folder's file, read for a tooltip
    if (const int row = rowOf(name); row >= 0)
        emit dataChanged(index(row), index(row), roles);
}

int WaveFolderModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_names.size());
}

QVariant WaveFolderModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QString &name = m_names[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return shownName(name);
    case Qt::EditRole:
    case NameRole:
        return name;
    case PathRole:
        return fullPath(m_folder, name);
    case PlayableRole:
    case ProblemRole: {
        const auto facts = m_facts ? m_facts->known(fullPath(m_folder, name)) : std::nullopt;
        if (!facts)
            return {};
        if (role == PlayableRole)
            return facts->info.playable();
        return facts->info.problem;
    }
    case DamagedRole: {
        const auto loudness =
            m_facts ? m_facts->loudness().known(fullPath(m_folder, name)) : std::nullopt;
        return loudness ? QVariant(loudness->damaged()) : QVariant();
    }
    default:
        return {};
    }
}

Qt::ItemFlags WaveFolderModel::flags(const QModelIndex &index) const
{
    const Qt::ItemFlags flags = QAbstractListModel::flags(index);
    return index.isValid() ? flags | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren : flags;
}

QStringList WaveFolderModel::mimeTypes() const
{
    return fileUris::types();
}

QMimeData *WaveFolderModel::mimeData(const QModelIndexList &indexes) const
{
    QStringList paths;
    for (int row : rowsOf(indexes))
        paths.append(path(row));
    return fileUris::mimeData(paths);
}
