#pragma once

#include <QModelIndexList>
#include <QTimer>
#include <QWidget>

class Library;
class LibraryProblemLine;
class LibraryResultsModel;
class LibraryResultsView;
class LineLabel;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

// Finding takes in the library as one types: a field, the hits in sortable columns, a line
// that says why a query cannot be read, one with what went wrong in the library or with a hit,
// and one with the count of hits and what the library is doing (indexing, measuring the
// loudness), with a way to stop it whenever it does something. What is done with a hit (playing it,
// adding it, showing it) is the main window's.
class FindWindow final : public QWidget
{
    Q_OBJECT
public:
    FindWindow(Library &library, LibraryResultsModel &results, QWidget *parent);

    LibraryResultsView *resultsView() const { return m_view; }
    // Shows it where it was when last closed in this run, at first by main and clear of
    // keepClear (the main window's play list, in global coordinates) where the screen has
    // room, and in front.
    void showOver(QWidget *main, const QRect &keepClear = QRect());
    QLineEdit *field() const { return m_field; }
    // The full paths of the hits chosen (the selection, else the entry with the frame).
    QStringList chosenPaths() const;
    // The folder an empty library is offered (the browser's), named in the offer.
    void offerFolder(const QString &folder);
    // Puts the field in front, its text selected, so that typing starts a new search.
    void focusField();
    // One line under the results (a hit that cannot be played, say), in red, until the next
    // search.
    void tell(const QString &line);
    // Takes such a line back (a later play started: what it said is over); the library's
    // own problems stay.
    void forgetTold();

    // How long typing rests before the search runs.
    static constexpr int typingPauseMs = 200;
    static constexpr int startHeight = 420;

signals:
    void playWanted(const QModelIndexList &hits);
    void playOrStopWanted(const QModelIndex &hit);
    void addWanted(const QStringList &paths);
    void dragWanted(const QStringList &paths);
    void showInFolderWanted(const QString &path);
    void openContainingFolderWanted(const QString &path);
    // The library has no folder yet, and the user took the offer of the browser's one.
    void addCurrentFolderWanted();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void standAlone();
    void search();
    void showCount();
    void showRoots();
    void showActivity();
    void openMenu(const QPoint &globalPosition);
    Library &m_library;
    LibraryResultsModel &m_results;
    QLineEdit *m_field;
    LineLabel *m_queryProblem;
    LibraryResultsView *m_view;
    LibraryProblemLine *m_problemLine;
    QLabel *m_status;
    QLabel *m_activity;
    QPushButton *m_stop;
    QWidget *m_emptyOffer;
    LineLabel *m_offered;
    QMenu *m_menu = nullptr;
    QTimer m_typing;
    // Where it was when it was last closed.
    QRect m_placed;
    // The indexing's progress (-1: not told yet in this pass) and the files measured.
    qint64 m_looked = 0;
    qint64 m_about = -1;
    qint64 m_measured = 0;
};
