#pragma once

#include <QElapsedTimer>
#include <QListView>

// A list with extended selection over which the right button opens a menu that acts on the
// selection as it is: the right button neither selects nor moves the current entry. It
// reports the release of any button over its entries, and the Menu key (or Shift+F10).
// Enter acts on the entry a double click would: with nothing selected, the one with the
// focus frame, which is then selected as a click would select it.
class MenuListView : public QListView
{
    Q_OBJECT
public:
    explicit MenuListView(QWidget *parent);

signals:
    void mouseUp(Qt::MouseButton button);
    void menuKey();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;

private:
    // Since the last letter typed to find an entry: a space soon after is part of the name.
    QElapsedTimer m_typing;
    void keyboardSearch(const QString &search) override;
};
