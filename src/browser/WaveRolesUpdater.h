#pragma once

#include <QObject>
#include <QStringList>

class FileFacts;
class QAbstractItemView;
class WaveFolderModel;

// Fills in the roles of a folder's entries that take a worker to know, through the
// RolesUpdater every list shares: the rows a view shows, and once a listing the loudness of
// the rest of the folder after them, in the background. Each answer changes the roles of its
// row alone.
class WaveRolesUpdater final : public QObject
{
    Q_OBJECT
public:
    WaveRolesUpdater(WaveFolderModel &model, QAbstractItemView &view, FileFacts &facts);

private:
    void inView(const QStringList &paths);
    WaveFolderModel &m_model;
    FileFacts &m_facts;
    bool m_folderAsked = false;
};
