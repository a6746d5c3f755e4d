// Writes the desktop icon: the front end's skin, its key colour made transparent, centred on a
// square canvas. Run at build time: MakeIcon <size> <file.png>
#include "Artwork.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

QImage SkinWithAlpha() {
    QImage skin = Artwork::Skin().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = kKeyColour.rgb();
    for (int y = 0; y < skin.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(skin.scanLine(y));
        for (int x = 0; x < skin.width(); ++x)
            if (line[x] == key) line[x] = qRgba(0, 0, 0, 0);
    }
    return skin;
}

QImage Icon(int size) {
    const QImage skin =
        SkinWithAlpha().scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.drawImage((size - skin.width()) / 2, (size - skin.height()) / 2, skin);
    return icon;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv); // fonts for the skin's lettering
    const int size = argc == 3 ? QString::fromLocal8Bit(argv[1]).toInt() : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: MakeIcon <size 16-1024> <file.png>\n");
        return 2;
    }
    if (!Icon(size).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "MakeIcon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
