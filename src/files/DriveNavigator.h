#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class Desktop;
class DirList;
class DriveList;
class Volumes;

// The process's current drive (the volume of its current directory) and, per volume, the
// directory that was last current on it in this run.
class CurrentDrive final
{
public:
    explicit CurrentDrive(Volumes &volumes);
    // The directory that is current on that volume: the process's own when it is there,
    // else the one last made current there, else the volume's root.
    QString currentDirectoryOf(const QString &root) const;
    // Makes the volume current: the process moves to that volume's current directory.
    bool makeCurrent(const QString &root);
    // Changes the process's current directory (and so perhaps the current drive).
    bool changeDirectory(const QString &dir);

private:
    void remember();
    Volumes &m_volumes;
    // The directories the process left, the last one last, each once.
    QStringList m_left;
};

// A drive list and directory list pair: the drive change with its probe, message (and in
// the main window a beep) when the volume cannot be read, and the return to the directory
// list's volume; folders opened from the directory list. The drive list always shows the volume
// that holds the directory list's folder, so choosing a volume always moves the lists, also after
// the user walked out of it.
class DriveNavigator final : public QObject
{
    Q_OBJECT
public:
    enum class Beep
    {
        OnFailure,
        Never
    };
    DriveNavigator(DriveList &drives, DirList &dirs, Volumes &volumes, CurrentDrive &current,
                   Desktop &desktop, Beep beep, std::function<void(const QString &)> showError,
                   QObject *parent);

    // Runs whenever the drive list's choice changes, also when the handler itself puts it
    // back (nested, at most once more, since the second put-back changes nothing).
    void driveChange();

signals:
    // A successful change: the owner clears what depends on the old directory.
    void driveChanged();

private:
    DriveList &m_drives;
    DirList &m_dirs;
    Volumes &m_volumes;
    CurrentDrive &m_current;
    Desktop &m_desktop;
    Beep m_beep;
    std::function<void(const QString &)> m_showError;
};
