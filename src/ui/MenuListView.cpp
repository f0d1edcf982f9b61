#include "MenuListView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

MenuListView::MenuListView(QWidget *parent) : QListView(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Thirty times faster painting on big lists: every row has the same height.
    setUniformItemSizes(true);
}

void MenuListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        event->accept();
    else
        QListView::mousePressEvent(event);
}

void MenuListView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        event->accept();
    else
        QListView::mouseReleaseEvent(event);
    emit mouseUp(event->button());
}

void MenuListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        event->accept();
    else
        QListView::mouseDoubleClickEvent(event);
}

void MenuListView::contextMenuEvent(QContextMenuEvent *event)
{
    // Menus open on the mouse button's release; the press's own context event is not used.
    if (event->reason() == QContextMenuEvent::Keyboard)
        emit menuKey();
    event->accept();
}

bool MenuListView::event(QEvent *event)
{
    // Before the window's shortcuts see the key, so that the command bound to Enter finds
    // the entry selected.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
            !selectionModel()->hasSelection() && currentIndex().isValid())
            selectionModel()->select(currentIndex(), QItemSelectionModel::Select);
        // "take 2": the space is typed to the search, not to the window's Space.
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier &&
            m_typing.isValid() && m_typing.elapsed() < QApplication::keyboardInputInterval()) {
            event->accept();
            return true;
        }
    }
    return QListView::event(event);
}

void MenuListView::keyboardSearch(const QString &search)
{
    m_typing.start();
    QListView::keyboardSearch(search);
}
