#include "Scaling.h"

#include <cmath>

namespace {
DesignControl makeControl(const QString& name, int left, int top, int width, int height,
                          int scaled) {
    const double t = kDesignTwipsPerPixel;
    return {name, QRectF(left * t, top * t, width * t, height * t), scaled};
}
} // namespace

const std::vector<DesignControl>& mainWindowDesign() {
    static const std::vector<DesignControl> design = {
        makeControl("MainWindow", 0, 0, 215, 479, kWidth | kHeight),
        makeControl("copyrightLabel", 4, 448, 137, 25, kLeft | kTop | kWidth),
        makeControl("versionLabel", 120, 448, 89, 17, kLeft | kTop | kWidth),
        makeControl("closeButton", 152, 24, 16, 16, kLeft | kHeight),
        makeControl("lamp0", 151, 191, 24, 24, kAll),
        makeControl("lamp1", 151, 263, 24, 24, kAll),
        makeControl("lamp2", 151, 333, 24, 24, kAll),
        makeControl("progressBar", 2, 170, 61, 208, kAll),
        makeControl("allVuButton", 80, 174, 57, 57, kAll),
        makeControl("latestVuButton", 80, 246, 57, 57, kAll),
        makeControl("cardButton", 80, 318, 57, 57, kAll),
        // The pressed images take their size from their pictures.
        makeControl("pressedButton0", 80, 174, 57, 57, kLeft | kTop),
        makeControl("pressedButton1", 80, 246, 57, 57, kLeft | kTop),
        makeControl("pressedButton2", 79, 318, 57, 57, kLeft | kTop),
    };
    return design;
}

double convertTwips(double designTwips, double twipsPerPixel) {
    return designTwips / kDesignTwipsPerPixel * twipsPerPixel;
}

std::vector<DesignControl> convertDesign(std::vector<DesignControl> design, double twipsPerPixel) {
    for (DesignControl& control : design) {
        const QRectF& r = control.twips;
        const auto convert = [&](int part, double value) {
            return (control.scaled & part) ? convertTwips(value, twipsPerPixel) : value;
        };
        control.twips = QRectF(convert(kLeft, r.x()), convert(kTop, r.y()),
                               convert(kWidth, r.width()), convert(kHeight, r.height()));
    }
    return design;
}

std::vector<DesignControl> setLargeDPICompatibleDimensions(double twipsPerPixel) {
    return convertDesign(mainWindowDesign(), twipsPerPixel);
}

QRect twipsToPixels(const QRectF& twips, double twipsPerPixel) {
    const auto px = [&](double v) { return int(std::lround(v / twipsPerPixel)); };
    return QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height()));
}
