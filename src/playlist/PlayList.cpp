#include "PlayList.h"

#include "browser/PathRule.h"

#include <QSet>

PlayList::PlayList(QObject *parent)
    : QObject(parent), m_names(new QStringListModel(this)), m_paths(new QStringListModel(this))
{
}

QString PlayList::keyOf(const QString &path)
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return path.trimmed().toUpper();
#else
    // Linux file systems tell /s/Ding.wav and /s/ding.wav apart: so do we.
    return path.trimmed();
#endif
}

bool PlayList::AddEntry(const QString &name, const QString &path)
{
    const QString key = keyOf(path);
    if (key.isEmpty() || m_keys.contains(key))
        return false;
    m_keys.insert(key);
    const int n = count();
    m_nameList.append(name);
    m_pathList.append(path);
    appendRows(n);
    return true;
}

int PlayList::addEntries(const QList<std::pair<QString, QString>> &entries)
{
    const int first = count();
    for (const auto &[name, path] : entries) {
        const QString key = keyOf(path);
        if (key.isEmpty() || m_keys.contains(key))
            continue;
        m_keys.insert(key);
        m_nameList.append(name);
        m_pathList.append(path);
    }
    appendRows(first);
    return count() - first;
}

void PlayList::appendRows(int first)
{
    const int added = count() - first;
    if (added <= 0)
        return;
    for (QStringListModel *model : {m_names, m_paths}) {
        const QStringList &source = model == m_names ? m_nameList : m_pathList;
        model->insertRows(first, added);
        for (int i = first; i < first + added; ++i)
            model->setData(model->index(i), source[i]);
    }
}

int PlayList::addFiles(const QStringList &paths)
{
    QList<std::pair<QString, QString>> entries;
    for (const QString &path : paths)
        entries.append({fileNameOf(path), path});
    return addEntries(entries);
}

void PlayList::removeRows(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    const QSet<int> gone(rows.begin(), rows.end());
    QStringList names;
    QStringList paths;
    names.reserve(count());
    paths.reserve(count());
    for (int i = 0; i < count(); ++i) {
        if (gone.contains(i)) {
            m_keys.remove(keyOf(m_pathList[i]));
            continue;
        }
        names.append(m_nameList[i]);
        paths.append(m_pathList[i]);
    }
    m_nameList = names;
    m_pathList = paths;
    publish();
}

void PlayList::clear()
{
    m_nameList.clear();
    m_pathList.clear();
    m_keys.clear();
    publish();
}

void PlayList::publish()
{
    m_names->setStringList(m_nameList);
    m_paths->setStringList(m_pathList);
}
