#include "AutoPreview.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

namespace {
bool movesTheCurrentEntry(int key)
{
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

bool plain(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & ~Qt::KeypadModifier) == Qt::NoModifier;
}
} // namespace

AutoPreview::AutoPreview(QAbstractItemView *list)
    : QObject(list), m_list(list), m_viewport(list->viewport())
{
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    const auto watch = [this] {
        if (QItemSelectionModel *selection = m_list->selectionModel())
            connect(selection, &QItemSelectionModel::currentChanged, this,
                    &AutoPreview::currentChanged, Qt::UniqueConnection);
    };
    watch();
    // A list given a new model gets a new selection model.
    connect(list->model(), &QAbstractItemModel::modelReset, this, watch);
}

bool AutoPreview::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == m_list && (type == QEvent::KeyPress || type == QEvent::KeyRelease)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (type == QEvent::KeyRelease) {
            if (!key->isAutoRepeat() && std::exchange(m_releasePending, false))
                emit wanted(m_list->currentIndex());
            return false;
        }
        m_cause = Cause::None;
        if (movesTheCurrentEntry(key->key()) && plain(key->modifiers()))
            m_cause = key->isAutoRepeat() ? Cause::Repeat : Cause::Plain;
    } else if (type == QEvent::MouseButtonPress && watched == m_viewport) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        m_cause = mouse->button() == Qt::LeftButton && plain(mouse->modifiers()) ? Cause::Plain
                                                                                 : Cause::None;
    } else {
        return false;
    }
    // The view moves the current entry while it handles this very event; whatever moves
    // it later is not the user's click or key.
    if (m_cause != Cause::None)
        QTimer::singleShot(0, this, [this] { m_cause = Cause::None; });
    return false;
}

void AutoPreview::currentChanged(const QModelIndex &current)
{
    const Cause cause = std::exchange(m_cause, Cause::None);
    if (cause == Cause::Plain) {
        m_releasePending = false;
        emit wanted(current);
    } else if (cause == Cause::Repeat) {
        if (!std::exchange(m_releasePending, true))
            emit held();
    }
}
