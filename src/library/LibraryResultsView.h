#pragma once

#include <QModelIndexList>
#include <QTableView>

// The library's hits, as a file list is to its folder: Enter and a double click play what is
// selected, Space plays or ends the entry with the focus frame, Insert adds the selection to
// the play list, a drag takes the files out, and the right button opens the hits' menu over
// the selection as it is.
class LibraryResultsView final : public QTableView
{
    Q_OBJECT
public:
    explicit LibraryResultsView(QWidget *parent);

    // The selected hits in the order the list shows them; with none selected, the one with
    // the focus frame.
    QModelIndexList chosen() const;

    void setModel(QAbstractItemModel *model) override;
    // Wide enough for every column: the figures' whole, and a take's usual name and folder.
    QSize sizeHint() const override;

signals:
    void playRequested();
    void playOrStopRequested();
    void addRequested();
    void dragRequested();
    void menuRequested(const QPoint &globalPosition);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // The width a column starts at: its heading's, or its widest usual text's.
    int startWidth(int column) const;
    void fitColumns();
    bool m_nameFitted = false;
};
