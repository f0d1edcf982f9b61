// The usual keys of a file browser and player, beside the buttons and the menus: Enter
// plays, Delete deletes (or takes off the play list), Insert adds, Backspace and Alt+Up go
// to the parent folder, F5 reads the folder again, Escape ends the sound.
#include "Form1.h"

#include <QAction>

namespace {

// A key that runs handler while the focus is in `on` (or anywhere in the window, for the
// window itself).
template <typename Handler>
void onKeys(QWidget *on, const QList<QKeySequence> &keys, QObject *receiver, Handler handler)
{
    auto *action = new QAction(on);
    action->setShortcuts(keys);
    action->setShortcutContext(on->isWindow() ? Qt::WindowShortcut : Qt::WidgetShortcut);
    on->addAction(action);
    QObject::connect(action, &QAction::triggered, receiver, handler);
}

// Enter acts on the entry a double click would: with nothing selected, the one with the
// focus frame, which is then selected as a click would select it.
void selectCurrentIfNone(QAbstractItemView *list)
{
    if (!list->selectionModel()->hasSelection() && list->currentIndex().isValid())
        list->selectionModel()->select(list->currentIndex(), QItemSelectionModel::Select);
}

} // namespace

void Form1::wireKeys()
{
    const QList<QKeySequence> enter = {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
    onKeys(File1, enter, this, [this] {
        selectCurrentIfNone(File1);
        File1_DblClick();
    });
    onKeys(List1, enter, this, [this] {
        selectCurrentIfNone(List1);
        List1_DblClick();
    });
    onKeys(File1, {QKeySequence::Delete}, this, [this] { Delete(); });
    onKeys(List1, {QKeySequence::Delete}, this, [this] { Remove(); });
    onKeys(File1, {QKeySequence(Qt::Key_Insert)}, this, [this] { Add(); });
    const auto up = [this] {
        if (Dir1->path() != QLatin1String("/"))
            emit Dir1->openRequested(Dir1->parentPath());
    };
    onKeys(File1, {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Up)}, this, up);
    onKeys(Dir1, {QKeySequence(Qt::ALT | Qt::Key_Up)}, this, up);
    onKeys(this, {QKeySequence(Qt::Key_F5)}, this, [this] {
        Dir1->reread();
        File1->rereadKeepingSelection();
    });
    // The one way to end a sound before its end: a new one is not needed for that.
    onKeys(this, {QKeySequence(Qt::Key_Escape)}, this, [this] { m_services.sound.stop(); });
}
