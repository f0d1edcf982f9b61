#pragma once

#include <QSizeF>

// Where the main window's resizable controls go for one client size, in pixels.
struct MainLayout
{
    double file1Height = 0;
    double list1Top = 0;
    double dir1Height = 0;
    double drive1Top = 0;
    bool buttonsPlaced = false; // the button column and the frame are moved only when shown
    double buttonLeft = 0;
    double command9Left = 0;
    bool frameVisible = false;
    double frameLeft = 0;
    double frameTop = 0;
    double file1Width = 0;
    double list1Width = 0;
    double dir1Left = 0;
    double drive1Left = 0;
    double dir1Width = 0;
    double drive1Width = 0;
};

namespace layout {
constexpr double minimumOuterHeight = 3940; // twips
constexpr double minimumOuterWidth = 4000;  // twips
constexpr double frameThreshold = 5100;     // twips of outer height
constexpr double fileBottomOffset = 96;
constexpr double playListTopOffset = 80;
constexpr double dirBottomOffset = 48;
constexpr double driveTopOffset = 32;
constexpr double buttonColumnOffset = 152;
constexpr double smallButtonOffset = 48;
constexpr double marginWithButtons = 176;
constexpr double marginWithoutButtons = 24;
constexpr double columnGap = 16;
} // namespace layout

// The outer size raised to the window's minimum, in twips.
QSizeF raisedToMinimum(QSizeF outer);

// sw, sh: client size in pixels; outerHeight in twips, read for the frame threshold.
MainLayout layoutMainWindow(double sw, double sh, double outerHeight, bool buttons, bool file2Dir);
