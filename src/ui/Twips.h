#pragma once

#include <QRect>
#include <cmath>

// The forms were designed in twips at 15 twips per pixel; this is the one place that
// converts, so no other code multiplies or divides by 15.
namespace twips {

constexpr double perPixel = 15.0;

inline int toPixels(double twipValue)
{
    return static_cast<int>(std::nearbyint(twipValue / perPixel));
}

// Whole pixels that hold at least that many twips (minimum sizes).
inline int toPixelsRoundedUp(double twipValue)
{
    return static_cast<int>(std::ceil(twipValue / perPixel));
}

inline double fromPixels(double pixels)
{
    return pixels * perPixel;
}

inline QRect rect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

inline QSize size(int width, int height)
{
    return QSize(toPixels(width), toPixels(height));
}

} // namespace twips
