#include "DriveNavigator.h"

#include "DirList.h"
#include "DriveList.h"
#include "platform/Desktop.h"
#include "platform/Volumes.h"

CurrentDrive::CurrentDrive(Volumes &volumes) : m_volumes(volumes) {}

QString CurrentDrive::currentDirectoryOf(const QString &root) const
{
    // Each directory's volume by the volumes known now, not by those known when the process
    // left it: the first list of them may come after the process has moved.
    const QList<Volume> volumes = m_volumes.mounted();
    const QString current = m_volumes.currentDirectory();
    if (volumeRootOf(volumes, current) == root)
        return current;
    for (auto left = m_left.crbegin(); left != m_left.crend(); ++left)
        if (volumeRootOf(volumes, *left) == root)
            return *left;
    return root;
}

void CurrentDrive::remember()
{
    const QString current = m_volumes.currentDirectory();
    m_left.removeAll(current);
    m_left.append(current);
}

bool CurrentDrive::makeCurrent(const QString &root)
{
    const QString target = currentDirectoryOf(root);
    remember();
    if (m_volumes.setCurrentDirectory(target))
        return true;
    // The remembered directory is gone: the volume's root is still its current drive.
    return m_volumes.setCurrentDirectory(root);
}

bool CurrentDrive::changeDirectory(const QString &dir)
{
    remember();
    return m_volumes.setCurrentDirectory(dir);
}

DriveNavigator::DriveNavigator(DriveList &drives, DirList &dirs, Volumes &volumes,
                               CurrentDrive &current, Desktop &desktop, Beep beep,
                               std::function<void(const QString &)> showError, QObject *parent)
    : QObject(parent), m_drives(drives), m_dirs(dirs), m_volumes(volumes), m_current(current),
      m_desktop(desktop), m_beep(beep), m_showError(std::move(showError))
{
    connect(&m_drives, &DriveList::driveChanged, this, &DriveNavigator::driveChange);
    // A folder opened in the list (double click, Enter, Backspace) that cannot be read
    // leaves the lists where they are.
    connect(&m_dirs, &DirList::openRequested, this, [this](const QString &path) {
        if (const Result<> opened = m_dirs.setPath(path); !opened.ok())
            m_showError(opened.error());
    });
    // The same told when the answer comes late: the list is back where it was by then.
    connect(&m_dirs, &DirList::unreadable, this,
            [this](const QString &, const QString &why, DirList::Report report) {
                if (report == DirList::Report::Tell)
                    m_showError(why);
            });
    // Every folder reaches "/" here, so walking up can leave the volume the list shows; and
    // the volumes known may change under it (the first answer of the system, a stick plugged
    // in).
    const auto showVolume = [this] {
        m_drives.showDrive(volumeRootOf(m_volumes.mounted(), m_dirs.path()));
    };
    connect(&m_dirs, &DirList::pathChanged, this, showVolume);
    m_volumes.followChanges(this, showVolume);
}

void DriveNavigator::driveChange()
{
    const QString root = m_drives.drive();
    if (const Result<> probed = m_volumes.probe(root); !probed.ok()) {
        if (m_beep == Beep::OnFailure)
            m_desktop.beep();
        m_showError(probed.error());
        m_drives.setDrive(volumeRootOf(m_volumes.mounted(), m_dirs.path()));
        return;
    }
    // After a good probe every step is tried in turn; one that fails is passed over.
    m_current.makeCurrent(root);
    (void)m_dirs.setPath(m_volumes.currentDirectory());
    emit driveChanged();
}
