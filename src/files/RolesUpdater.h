#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class FileFacts;
class Generation;
class QAbstractItemModel;
class QAbstractItemView;

// Fills in the roles of a list's entries that take a worker to know: the files of the rows a
// view shows are asked for once it has settled after a scroll, a resize or a change of rows,
// and each answer is handed to the model, which changes the roles of its entry alone. The
// view may show the model through proxies: it is asked only which entries are in view, by
// their path role.
class RolesUpdater final : public QObject
{
    Q_OBJECT
public:
    // What the model does with the news of a file: the roles of its entry that changed.
    struct Answers
    {
        std::function<void(const QString &)> info;
        std::function<void(const QString &)> picture;
        std::function<void(const QString &)> loudness;
    };
    // The answers run for as long as model is there; inView, when given, is told the paths in
    // view after their facts were asked for.
    RolesUpdater(QAbstractItemView &view, int pathRole, QAbstractItemModel &model, FileFacts &facts,
                 Answers answers, std::function<void(const QStringList &)> inView = {});
    ~RolesUpdater() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void settleSoon() { m_settle.start(); }
    void requestVisible();
    QAbstractItemView &m_view;
    // Kept, not asked of the view: the viewport's last events come while the view goes.
    const QObject *m_viewport;
    int m_pathRole;
    FileFacts &m_facts;
    std::function<void(const QStringList &)> m_inView;
    // The rows in view: a new look at them drops what still waits of the one before.
    std::unique_ptr<Generation> m_rows;
    QTimer m_settle;
};
