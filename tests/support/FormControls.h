#pragma once

#include "app/Form1.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "files/DriveList.h"
#include "playlist/PlayListView.h"
#include "ui/ListSelection.h"

#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>

// The main window's controls, found by their design names as an accessibility tool or a
// user's script would find them: the window keeps them to itself.
template <typename Control> Control *controlOf(const Form1 &form, const char *name)
{
    auto *control = form.findChild<Control *>(QString::fromLatin1(name));
    Q_ASSERT_X(control, name, "no such control in the main window");
    return control;
}

// The name of the entry a list shows at row, as the user sees the rows.
inline QString nameAt(const QAbstractItemView *list, int row)
{
    return list->model()->index(row, 0).data(Qt::EditRole).toString();
}

// The rows of a list's selected entries, in the order shown.
template <typename List> QList<int> selectedRowsIn(const List *list)
{
    return rowsOf(list->selection());
}

#define QUILLON_CONTROL(Type, Name)                                                                \
    inline Type *Name(const Form1 &form)                                                           \
    {                                                                                              \
        return controlOf<Type>(form, #Name);                                                       \
    }
QUILLON_CONTROL(DriveList, Drive1)
QUILLON_CONTROL(DirList, Dir1)
QUILLON_CONTROL(FileList, File1)
QUILLON_CONTROL(PlayListView, List1)
QUILLON_CONTROL(QListView, List3)
QUILLON_CONTROL(QListWidget, List2)
QUILLON_CONTROL(QGroupBox, Frame1)
QUILLON_CONTROL(QLabel, Label1)
QUILLON_CONTROL(QLabel, Label2)
QUILLON_CONTROL(QLabel, Label3)
QUILLON_CONTROL(QLabel, Label4)
QUILLON_CONTROL(QPushButton, Command1)
QUILLON_CONTROL(QPushButton, Command2)
QUILLON_CONTROL(QPushButton, Command3)
QUILLON_CONTROL(QPushButton, Command4)
QUILLON_CONTROL(QPushButton, Command5)
QUILLON_CONTROL(QPushButton, Command6)
QUILLON_CONTROL(QPushButton, Command7)
QUILLON_CONTROL(QPushButton, Command9)
QUILLON_CONTROL(QLabel, Image1)
QUILLON_CONTROL(QLabel, Image2)
QUILLON_CONTROL(QLabel, Image3)
#undef QUILLON_CONTROL
