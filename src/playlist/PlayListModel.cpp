#include "PlayListModel.h"

#include "MissingEntries.h"
#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "platform/FileUris.h"
#include "platform/PathRule.h"
#include "ui/ListSelection.h"

#include <QIdentityProxyModel>
#include <QTimer>

namespace {

// The play list seen through its paths.
class PathsModel final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            role = PlayListModel::PathRole;
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace

PlayListModel::PlayListModel(QObject *parent)
    : QAbstractListModel(parent), m_pathsModel(new PathsModel(this)),
      m_missing(new MissingEntries(this))
{
    static_cast<PathsModel *>(m_pathsModel)->setSourceModel(this);
    // Adding thousands of files one by one looks at the files once, when they are all in.
    auto *lookAgain = new QTimer(this);
    lookAgain->setSingleShot(true);
    connect(lookAgain, &QTimer::timeout, this, [this] { m_missing->setPaths(paths()); });
    connect(this, &QAbstractItemModel::modelReset, lookAgain, qOverload<>(&QTimer::start));
    connect(this, &QAbstractItemModel::rowsInserted, lookAgain, qOverload<>(&QTimer::start));
    connect(m_missing, &MissingEntries::changed, this, [this] {
        if (count() > 0)
            emit dataChanged(index(0), index(count() - 1), {MissingRole, Qt::ForegroundRole});
    });
}

void PlayListModel::setLooks(std::shared_ptr<const EntryLooks> looks)
{
    m_looks = std::move(looks);
}

void PlayListModel::setFacts(const FileFacts *facts)
{
    m_facts = facts;
}

int PlayListModel::rowOf(const QString &path) const
{
    if (m_rows.isEmpty() && !m_entries.isEmpty()) {
        m_rows.reserve(m_entries.size());
        for (int row = 0; row < count(); ++row)
            m_rows.insert(m_entries[row].path, row);
    }
    return m_rows.value(path, -1);
}

void PlayListModel::factsChanged(const QString &path)
{
    if (const int row = rowOf(path); row >= 0)
        emit dataChanged(index(row), index(row), {Qt::ToolTipRole});
}

void PlayListModel::loudnessChanged(const QString &path)
{
    if (const int row = rowOf(path); row >= 0)
        emit dataChanged(index(row), index(row), {Qt::ToolTipRole, LoudnessRole});
}

void PlayListModel::recheckMissing()
{
    m_missing->recheck();
}

int PlayListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant PlayListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Entry &entry = m_entries[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return entry.name;
    case PathRole:
        return entry.path;
    case MissingRole:
        // By path: between a change of rows and the next look, the rows of the look differ.
        return m_missing->isMissing(entry.path);
    case Qt::ToolTipRole:
    case Qt::ForegroundRole:
        return m_looks ? m_looks->look(index, role) : QVariant();
    case LoudnessRole:
        if (const auto loudness = m_facts ? m_facts->loudness().known(entry.path) : std::nullopt;
            loudness && loudness->integrated())
            return *loudness->integrated();
        return {};
    default:
        return {};
    }
}

QHash<int, QByteArray> PlayListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(PathRole, "path");
    return names;
}

QStringList PlayListModel::names() const
{
    return column(&Entry::name);
}

QStringList PlayListModel::paths() const
{
    return column(&Entry::path);
}

QStringList PlayListModel::column(QString Entry::*field) const
{
    QStringList values;
    values.reserve(count());
    for (const Entry &entry : m_entries)
        values.append(entry.*field);
    return values;
}

QString PlayListModel::keyOf(const QString &path)
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return path.trimmed().toUpper();
#else
    // Linux file systems tell /s/Ding.wav and /s/ding.wav apart: so do we.
    return path.trimmed();
#endif
}

bool PlayListModel::AddEntry(const QString &name, const QString &path)
{
    return addEntries({{name, path}}) == 1;
}

int PlayListModel::addEntries(const QList<std::pair<QString, QString>> &entries)
{
    QList<Entry> added;
    for (const auto &[name, path] : entries) {
        const QString key = keyOf(path);
        if (key.isEmpty() || m_keys.contains(key))
            continue;
        m_keys.insert(key);
        added.append({name, path});
    }
    if (added.isEmpty())
        return 0;
    beginInsertRows({}, count(), count() + static_cast<int>(added.size()) - 1);
    m_entries += added;
    m_rows.clear();
    endInsertRows();
    return static_cast<int>(added.size());
}

int PlayListModel::addFiles(const QStringList &paths)
{
    QList<std::pair<QString, QString>> entries;
    entries.reserve(paths.size());
    for (const QString &path : paths)
        entries.append({fileNameOf(path), path});
    return addEntries(entries);
}

void PlayListModel::removeEntries(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    const QSet<int> gone(rows.begin(), rows.end());
    // One reset for the whole removal: a row-by-row removal of thousands keeps the views busy.
    beginResetModel();
    QList<Entry> kept;
    kept.reserve(count());
    for (int i = 0; i < count(); ++i) {
        if (gone.contains(i))
            m_keys.remove(keyOf(m_entries[i].path));
        else
            kept.append(m_entries[i]);
    }
    m_entries = std::move(kept);
    m_rows.clear();
    endResetModel();
}

void PlayListModel::clear()
{
    beginResetModel();
    m_entries.clear();
    m_keys.clear();
    m_rows.clear();
    endResetModel();
}

Qt::ItemFlags PlayListModel::flags(const QModelIndex &index) const
{
    const Qt::ItemFlags flags = QAbstractListModel::flags(index);
    return index.isValid() ? flags | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren : flags;
}

QStringList PlayListModel::mimeTypes() const
{
    return fileUris::types();
}

QMimeData *PlayListModel::mimeData(const QModelIndexList &indexes) const
{
    QStringList paths;
    for (int row : rowsOf(indexes))
        paths.append(path(row));
    return fileUris::mimeData(paths);
}
