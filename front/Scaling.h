#pragma once

#include <QRect>
#include <QRectF>
#include <QString>
#include <vector>

// The main window is designed in twips at 15 twips per pixel, the figure of a 96 dpi display.
inline constexpr double kDesignTwipsPerPixel = 15.0;

// Which values of a control the load-time conversion touches.
enum ScaledPart { kLeft = 1, kTop = 2, kWidth = 4, kHeight = 8, kAll = 15 };

struct DesignControl {
    QString name;
    QRectF twips; // as designed (15 twips per pixel)
    int scaled;   // ScaledPart flags
};

// Every control of the main window whose geometry the conversion knows, plus the window
// itself ("MainWindow", size only).
const std::vector<DesignControl>& mainWindowDesign();

// One design value (twips at 15 per pixel) as twips of a display with twipsPerPixel.
double convertTwips(double designTwips, double twipsPerPixel);

// The design (twips at 15 per pixel) as twips of a display with twipsPerPixel: the parts
// each control scales are converted, the others kept as designed.
std::vector<DesignControl> convertDesign(std::vector<DesignControl> design, double twipsPerPixel);

// The main window's geometry in twips after the conversion for a display, as the
// original load step leaves it: converted parts scaled, the others kept as designed.
std::vector<DesignControl> setLargeDPICompatibleDimensions(double twipsPerPixel);

// Twips of a display to whole pixels of it.
QRect twipsToPixels(const QRectF& twips, double twipsPerPixel);
