#pragma once

#include "files/LoudnessKeeper.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <atomic>
#include <memory>

class SqliteLibraryStore;

// The loudness the windows measure, kept in the library's store: its table of loudness by
// path, and the library's own row of the file, so that a take measured in the browser is
// found by lufs: and one the library measured answers in the tooltip. A connection of its own
// beside the library's, opened at the first need by a measuring worker, one worker at a time;
// it never makes, upgrades or moves the store (the library does, and says so).
class LibraryLoudness final : public LoudnessKeeper
{
public:
    explicit LibraryLoudness(QString file);
    ~LibraryLoudness() override;

    std::optional<Loudness> kept(const QString &path, const FileStamp &stamp) override;
    void keep(const QString &path, const FileStamp &stamp, const Loudness &loudness) override;

    // The library opened, made, upgraded or replaced the store: the next call opens it again.
    // What was measured while it could not be opened is written now. Off the window's thread
    // (the library's own, in the program).
    void storeChanged();
    // Closes the connection for good, as the program ends: what is measured after is kept in
    // memory alone.
    void close();

private:
    struct Measured
    {
        QString path;
        FileStamp stamp;
        Loudness loudness;
    };
    bool openStore();

    QString m_file;
    QMutex m_mutex;
    std::unique_ptr<SqliteLibraryStore> m_store;
    std::atomic<int> m_changes{0};
    // The change the store was last opened (or tried) at; -1: never tried.
    int m_triedAt = -1;
    bool m_closed = false;
    // Measured while the store could not be opened (the first run, before the library made
    // it); kept for when it can, a bounded number.
    QList<Measured> m_waiting;
};
