#pragma once

#include "platform/Volumes.h"

#include <QComboBox>

// Drive1: the mounted volumes, shown as their root and name.
class DriveList final : public QComboBox
{
    Q_OBJECT
public:
    DriveList(Volumes &volumes, QWidget *parent);

    // The chosen volume's root.
    QString drive() const;
    // Choosing another volume raises driveChanged, also from code (and nested inside a
    // running handler, as the drive change relies on).
    void setDrive(const QString &root);
    // Shows that volume without raising driveChanged: the list following the directory list.
    void showDrive(const QString &root);

signals:
    void driveChanged();

protected:
    void showPopup() override;

private:
    void fill();
    Volumes &m_volumes;
};
