#pragma once

#include <QObject>
#include <QTimer>

class FileFacts;
class QAbstractItemView;
class WaveFolderModel;

// Fills in the roles of a folder's entries that take a worker to know: the rows a view
// shows are asked for first, once it has settled after a scroll, a resize or a listing; the
// loudness of the rest of the folder after them, once a listing. Each answer changes the
// roles of its row alone. The view may show the model through proxies: it is asked only
// which entries are in view, by their PathRole.
class WaveRolesUpdater final : public QObject
{
    Q_OBJECT
public:
    WaveRolesUpdater(WaveFolderModel &model, QAbstractItemView &view, FileFacts &facts);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void settleSoon() { m_settle.start(); }
    void requestVisible();
    WaveFolderModel &m_model;
    QAbstractItemView &m_view;
    // Kept, not asked of the view: the viewport's last events come while the view goes.
    const QObject *m_viewport;
    FileFacts &m_facts;
    bool m_folderMeasured = false;
    QTimer m_settle;
};
