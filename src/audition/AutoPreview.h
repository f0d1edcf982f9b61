#pragma once

#include <QModelIndex>
#include <QObject>

class QAbstractItemView;

// Tells when the current entry of a list moved by a plain click or a plain arrow key, so
// that the entry reached can be heard at once. Shift and Ctrl, which extend the selection,
// tell nothing; neither do the right button, type-ahead search or a change the program made.
// While a key auto-repeats, the moves are held back: the entry reached is told once the key
// is let go.
class AutoPreview final : public QObject
{
    Q_OBJECT
public:
    explicit AutoPreview(QAbstractItemView *list);

signals:
    void wanted(const QModelIndex &current);
    // A held key moved on: what sounds of the entries passed should end.
    void held();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void currentChanged(const QModelIndex &current);
    enum class Cause
    {
        None,
        Plain,
        Repeat
    };
    QAbstractItemView *m_list;
    // Kept, not asked of the list: its viewport's last events come while the list goes.
    QObject *m_viewport;
    Cause m_cause = Cause::None;
    bool m_releasePending = false;
};
