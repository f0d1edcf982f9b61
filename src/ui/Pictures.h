#pragma once

#include <QPixmap>

// The program's own pictures, painted in code at their designed pixel sizes.
namespace pictures {
QPixmap loudspeaker(); // 32x32: the file list's drag picture and the program's icon
QPixmap banana();      // 32x32: over the directory list, the drive list and the window
QPixmap funnel();      // 32x32: over the play list, where a drop adds
QPixmap about();       // 400x300: the splash and about box
QPixmap newEditor();   // 32x32: the editor chooser's picture
} // namespace pictures
