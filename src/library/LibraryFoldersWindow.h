#pragma once

#include <QWidget>
#include <functional>

class Library;
class QListWidget;
class QPushButton;

// The root folders of the library: added with a folder chooser that opens on the folder the
// browser shows, so that accepting it at once adds that one, and removed from the library
// (never from the disk). What went wrong in the library shows under them.
class LibraryFoldersWindow final : public QWidget
{
    Q_OBJECT
public:
    // Asks for a folder, starting at start (and nothing else: not what was typed or picked the
    // time before); empty when the user cancelled, or when a chooser is open already.
    using ChooseFolder = std::function<QString(QWidget *parent, const QString &start)>;
    LibraryFoldersWindow(Library &library, std::function<QString()> currentFolder,
                         ChooseFolder choose, QWidget *parent);

private:
    void showRoots();
    void add();
    void remove();
    Library &m_library;
    std::function<QString()> m_currentFolder;
    ChooseFolder m_choose;
    QListWidget *m_roots;
    QPushButton *m_remove;
    bool m_choosing = false;
};
