#include "DriveNavigator.h"

#include "DirList.h"
#include "DriveList.h"
#include "platform/Desktop.h"
#include "platform/Volumes.h"

CurrentDrive::CurrentDrive(Volumes &volumes) : m_volumes(volumes) {}

QString CurrentDrive::currentRoot() const
{
    return volumeRootOf(m_volumes.mounted(), m_volumes.currentDirectory());
}

QString CurrentDrive::currentDirectoryOf(const QString &root) const
{
    if (currentRoot() == root)
        return m_volumes.currentDirectory();
    return m_lastDirectory.value(root, root);
}

void CurrentDrive::remember()
{
    m_lastDirectory.insert(currentRoot(), m_volumes.currentDirectory());
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
    // Every folder reaches "/" here, so walking up can leave the volume the list shows.
    connect(&m_dirs, &DirList::pathChanged, this,
            [this] { m_drives.showDrive(volumeRootOf(m_volumes.mounted(), m_dirs.path())); });
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
