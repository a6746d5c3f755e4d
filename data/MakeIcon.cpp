// Writes the desktop icon: the front end's skin, its key colour made transparent, centred on a
// square canvas. Run at build time: MakeIcon <size> <file.png>
#include "Artwork.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv); // fonts for the skin's lettering
    const int size = argc == 3 ? QString::fromLocal8Bit(argv[1]).toInt() : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: MakeIcon <size 16-1024> <file.png>\n");
        return 2;
    }
    if (!Artwork::appIcon(size).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "MakeIcon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
