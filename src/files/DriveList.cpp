#include "DriveList.h"

#include <QSignalBlocker>

DriveList::DriveList(Volumes &volumes, QWidget *parent) : QComboBox(parent), m_volumes(volumes)
{
    fill();
    setDrive(volumeRootOf(m_volumes.mounted(), m_volumes.currentDirectory()));
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::driveChanged);
    // The system's volumes are read by a worker: the list fills again when an answer changes
    // them, keeping its choice.
    m_volumes.followChanges(this, [this] { fill(); });
}

void DriveList::fill()
{
    const QString current = drive();
    const QSignalBlocker blocker(this);
    clear();
    for (const Volume &volume : m_volumes.mounted()) {
        const QString text = volume.name.isEmpty() || volume.name == volume.root
                                 ? volume.root
                                 : QStringLiteral("%1  [%2]").arg(volume.root, volume.name);
        addItem(text, volume.root);
    }
    const int index = findData(current);
    if (index >= 0)
        setCurrentIndex(index);
}

QString DriveList::drive() const
{
    return currentData().toString();
}

void DriveList::setDrive(const QString &root)
{
    int index = findData(root);
    if (index < 0) {
        // A volume mounted since the list was filled.
        addItem(root, root);
        index = count() - 1;
    }
    setCurrentIndex(index);
}

void DriveList::showDrive(const QString &root)
{
    const QSignalBlocker blocker(this);
    setDrive(root);
}

void DriveList::showPopup()
{
    // Volumes come and go (a stick plugged in): what is known now, and what a look at the
    // system finds as soon as it answers.
    fill();
    QComboBox::showPopup();
}
