#include "Layout.h"

#include <algorithm>

using namespace layout;

QSizeF raisedToMinimum(QSizeF outer)
{
    return {std::max(outer.width(), minimumOuterWidth),
            std::max(outer.height(), minimumOuterHeight)};
}

MainLayout layoutMainWindow(double sw, double sh, double outerHeight, bool buttons, bool file2Dir)
{
    MainLayout l;
    l.file1Height = sh - fileBottomOffset;
    l.list1Top = sh - playListTopOffset;
    l.dir1Height = sh - dirBottomOffset;
    l.drive1Top = sh - driveTopOffset;
    double margin = marginWithoutButtons;
    if (buttons) {
        margin = marginWithButtons;
        l.buttonsPlaced = true;
        l.buttonLeft = sw - buttonColumnOffset;
        l.command9Left = sw - smallButtonOffset;
        l.frameVisible = outerHeight >= frameThreshold;
        l.frameLeft = sw - buttonColumnOffset;
        l.frameTop = sh - playListTopOffset;
    }
    const double fileDivisor = file2Dir ? 1.5 : 2;
    const double dirDivisor = file2Dir ? 3 : 2;
    l.file1Width = (sw - margin) / fileDivisor;
    l.list1Width = (sw - margin) / fileDivisor;
    l.dir1Left = l.file1Width + columnGap;
    l.drive1Left = l.file1Width + columnGap;
    l.dir1Width = (sw - margin) / dirDivisor;
    l.drive1Width = (sw - margin) / dirDivisor;
    return l;
}
