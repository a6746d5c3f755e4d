#include "Scaling.h"

#include <cmath>

namespace {
DesignControl Control(const QString& name, int left, int top, int width, int height, int scaled) {
    const double t = kDesignTwipsPerPixel;
    return {name, QRectF(left * t, top * t, width * t, height * t), scaled};
}
} // namespace

const std::vector<DesignControl>& MainWindowDesign() {
    static const std::vector<DesignControl> design = {
        Control("Form1", 0, 0, 215, 479, kWidth | kHeight),
        Control("lblCopyright", 4, 448, 137, 25, kLeft | kTop | kWidth),
        Control("lblRev", 120, 448, 89, 17, kLeft | kTop | kWidth),
        Control("Close", 152, 24, 16, 16, kLeft | kHeight),
        Control("PictureLED0", 151, 191, 24, 24, kAll),
        Control("PictureLED1", 151, 263, 24, 24, kAll),
        Control("PictureLED2", 151, 333, 24, 24, kAll),
        Control("PictureProgBar", 2, 170, 61, 208, kAll),
        Control("cmdAllVU", 80, 174, 57, 57, kAll),
        Control("cmdLatestVU", 80, 246, 57, 57, kAll),
        Control("cmdCard", 80, 318, 57, 57, kAll),
        // The pressed images take their size from their pictures.
        Control("Button0Pressed", 80, 174, 57, 57, kLeft | kTop),
        Control("Button1Pressed", 80, 246, 57, 57, kLeft | kTop),
        Control("Button2Pressed", 79, 318, 57, 57, kLeft | kTop),
    };
    return design;
}

double ConvertTwips(double designTwips, double twipsPerPixel) {
    return designTwips / kDesignTwipsPerPixel * twipsPerPixel;
}

std::vector<DesignControl> ConvertDesign(std::vector<DesignControl> design, double twipsPerPixel) {
    for (DesignControl& control : design) {
        const QRectF& r = control.twips;
        const auto convert = [&](int part, double value) {
            return (control.scaled & part) ? ConvertTwips(value, twipsPerPixel) : value;
        };
        control.twips = QRectF(convert(kLeft, r.x()), convert(kTop, r.y()),
                               convert(kWidth, r.width()), convert(kHeight, r.height()));
    }
    return design;
}

std::vector<DesignControl> setLargeDPICompatibleDimensions(double twipsPerPixel) {
    return ConvertDesign(MainWindowDesign(), twipsPerPixel);
}

QRect TwipsToPixels(const QRectF& twips, double twipsPerPixel) {
    const auto px = [&](double v) { return int(std::lround(v / twipsPerPixel)); };
    return QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height()));
}

QRect DesignPixels(const QString& name) {
    for (const DesignControl& control : MainWindowDesign()) {
        if (control.name == name) return TwipsToPixels(control.twips, kDesignTwipsPerPixel);
    }
    return QRect();
}
