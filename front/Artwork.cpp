#include "Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <cmath>

namespace {

// Colours of the device.
const QColor kOutline(11, 13, 16);
const QColor kBodyTop(62, 69, 79);
const QColor kBodyBottom(30, 34, 39);
const QColor kScreen(22, 25, 29);
const QColor kPanel(39, 44, 51);
const QColor kAccent(242, 154, 46);
const QColor kInk(42, 49, 57);
const QColor kCaption(154, 163, 173);

// Where the pictures that lie over the skin sit, so that the skin shows what they cover.
const QPoint kButtonFaces[3] = {{80, 174}, {80, 246}, {80, 318}};
const int kPanelTop = 160;
const int kPanelBottom = 392;

QFont artFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QImage blank(int width, int height, const QColor& colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A window body shaded from top to bottom.
QImage shadedBody(int width, int height) {
    QImage body = blank(width, height, kBodyBottom);
    QPainter p(&body);
    QLinearGradient shade(0, 0, 0, height);
    shade.setColorAt(0, kBodyTop);
    shade.setColorAt(1, kBodyBottom);
    p.fillRect(body.rect(), shade);
    return body;
}

// The skin: the body inside its outline, the key colour outside. Cut without antialiasing,
// so every pixel is either the key or the body.
QImage cutOut(const QImage& body, const QPainterPath& outline) {
    QImage skin = blank(body.width(), body.height(), kKeyColour);
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QBrush(body));
    p.drawPath(outline);
    return skin;
}

void paintTruck(QPainter& p, QPointF at, double scale) {
    p.save();
    p.translate(at);
    p.scale(scale, scale);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(0, 0, 24, 15), 1.5, 1.5); // box body
    p.setBrush(kAccent);
    p.drawRect(QRectF(2, 10, 20, 2.5)); // side stripe
    QPainterPath cab;
    cab.moveTo(25, 3);
    cab.lineTo(31.5, 3);
    cab.lineTo(36, 9);
    cab.lineTo(36, 16.5);
    cab.lineTo(25, 16.5);
    cab.closeSubpath();
    p.setBrush(kInk);
    p.drawPath(cab);
    QPainterPath window;
    window.moveTo(27, 5);
    window.lineTo(31, 5);
    window.lineTo(34, 9.5);
    window.lineTo(27, 9.5);
    window.closeSubpath();
    p.setBrush(QColor(170, 205, 230));
    p.drawPath(window);
    p.setBrush(kInk);
    p.drawRect(QRectF(0, 15, 36, 2)); // chassis
    for (double x : {6.0, 15.0, 31.0}) {
        p.setBrush(kInk);
        p.drawEllipse(QPointF(x, 18.5), 3.6, 3.6);
        p.setBrush(QColor(200, 206, 212));
        p.drawEllipse(QPointF(x, 18.5), 1.3, 1.3);
    }
    p.restore();
}

void paintClockBadge(QPainter& p, QPointF centre, double radius) {
    p.setPen(QPen(kAccent, 2.2));
    p.setBrush(QColor(250, 250, 248));
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, centre + QPointF(0, -radius * 0.62));
    p.drawLine(centre, centre + QPointF(radius * 0.5, radius * 0.12));
}

void paintCard(QPainter& p, QPointF at) {
    p.save();
    p.translate(at);
    p.setPen(QPen(kInk, 1.4));
    p.setBrush(QColor(58, 112, 170));
    p.drawRoundedRect(QRectF(0, 0, 35, 24), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRect(QRectF(0.7, 17, 33.6, 3)); // band across the card
    QLinearGradient gold(0, 6, 0, 14);
    gold.setColorAt(0, QColor(247, 214, 120));
    gold.setColorAt(1, QColor(201, 153, 52));
    p.setBrush(gold);
    p.drawRoundedRect(QRectF(4, 6, 9, 8), 1.5, 1.5); // chip
    p.setPen(QPen(QColor(150, 108, 30), 0.8));
    p.drawLine(QPointF(4, 10), QPointF(13, 10));
    p.drawLine(QPointF(8.5, 6), QPointF(8.5, 14));
    p.setPen(QPen(QColor(225, 235, 245), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(17, 7.5), QPointF(30, 7.5));
    p.drawLine(QPointF(17, 12), QPointF(26, 12));
    p.restore();
}

void paintIcon(QPainter& p, int kind, QPointF shift) {
    switch (kind) {
    case 0:
        paintTruck(p, QPointF(10, 17) + shift, 1.0);
        break;
    case 1:
        paintTruck(p, QPointF(7, 22) + shift, 0.88);
        paintClockBadge(p, QPointF(40, 17) + shift, 8.5);
        break;
    default:
        paintCard(p, QPointF(11, 16) + shift);
        break;
    }
}

const QRectF kButtonFace(1.5, 1.5, 54, 54); // in a button's 57 x 57 picture

// One 57 x 57 button face at origin; the face itself leaves a 1 pixel margin.
void paintButtonFace(QPainter& p, QPoint origin, int kind, bool pressed) {
    p.save();
    p.translate(origin);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF face = kButtonFace;
    QLinearGradient steel(0, 1, 0, 56);
    steel.setColorAt(0, pressed ? QColor(160, 169, 179) : QColor(238, 241, 245));
    steel.setColorAt(1, pressed ? QColor(206, 212, 219) : QColor(178, 187, 197));
    p.setPen(QPen(kOutline, 1));
    p.setBrush(steel);
    p.drawRoundedRect(face, 11, 11);
    // A light upper rim when raised, a shadow when pushed in.
    p.setPen(QPen(pressed ? QColor(0, 0, 0, 70) : QColor(255, 255, 255, 170), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(face.adjusted(1.5, 1.5, -1.5, -1.5), 9.5, 9.5);
    paintIcon(p, kind, pressed ? QPointF(0.8, 1.2) : QPointF(0, 0));
    p.restore();
}

void paintDial(QPainter& p, QPointF c, double r) {
    p.setPen(QPen(QColor(80, 90, 102), 3));
    p.setBrush(Qt::NoBrush);
    const QRectF arcBox(c.x() - r, c.y() - r, 2 * r, 2 * r);
    p.drawArc(arcBox, 210 * 16, -240 * 16);
    p.setPen(QPen(kAccent, 3, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arcBox, 210 * 16, -150 * 16);
    p.setPen(QPen(QColor(170, 178, 188), 1.2));
    for (int i = 0; i <= 8; ++i) {
        const double a = (210 - i * 30) * M_PI / 180.0;
        const QPointF dir(std::cos(a), -std::sin(a));
        p.drawLine(c + dir * (r - 8), c + dir * (r - 4));
    }
    const double needle = 60 * M_PI / 180.0;
    p.setPen(QPen(QColor(240, 240, 240), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(std::cos(needle), -std::sin(needle)) * (r - 9));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(c, 3.5, 3.5);
}

void paintHeader(QPainter& p) {
    const QRectF screen(12, 12, 191, 138);
    p.setPen(QPen(QColor(8, 9, 11), 1));
    p.setBrush(kScreen);
    p.drawRoundedRect(screen, 10, 10);
    paintDial(p, QPointF(107.5, 62), 30);
    p.setFont(artFont(21, true));
    p.setPen(QColor(236, 239, 243));
    const QRectF title(12, 92, 191, 28);
    const QFontMetricsF fm(p.font());
    const QString name = QStringLiteral("VANTREL");
    const QString pc = QStringLiteral(" PC");
    const double width = fm.horizontalAdvance(name) + fm.horizontalAdvance(pc);
    const double left = title.center().x() - width / 2;
    p.drawText(QPointF(left, title.bottom() - 6), name);
    p.setPen(kAccent);
    p.drawText(QPointF(left + fm.horizontalAdvance(name), title.bottom() - 6), pc);
    p.setFont(artFont(9, false));
    p.setPen(kCaption);
    p.drawText(QRectF(12, 122, 191, 16), Qt::AlignCenter, QStringLiteral("TACHOGRAPH  DOWNLOAD"));
}

void paintPanel(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kPanel);
    p.drawRect(QRect(0, kPanelTop, 216, kPanelBottom - kPanelTop));
    p.setPen(QColor(20, 23, 27));
    p.drawLine(0, kPanelTop, 215, kPanelTop);
    p.setPen(QColor(84, 93, 104));
    p.drawLine(0, kPanelBottom, 215, kPanelBottom);
    p.setRenderHint(QPainter::Antialiasing);
    const char* captions[3] = {"ALL VU", "LATEST VU", "CARD"};
    p.setFont(artFont(8, true));
    for (int kind = 0; kind < 3; ++kind) {
        paintButtonFace(p, kButtonFaces[kind], kind, false);
        p.setPen(kCaption);
        p.drawText(QRectF(70, kButtonFaces[kind].y() + 58, 77, 12), Qt::AlignCenter,
                   QString::fromLatin1(captions[kind]));
    }
}

void paintFooter(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        p.setBrush(QColor(16, 18, 21));
        p.drawRoundedRect(QRectF(70, 404 + i * 7, 76, 3), 1.5, 1.5);
    }
    p.setBrush(QColor(96, 104, 114));
    for (QPointF screw : {QPointF(22, 423), QPointF(193, 423)}) {
        p.drawEllipse(screw, 4, 4);
        p.setPen(QPen(QColor(40, 44, 50), 1.2));
        p.drawLine(screw + QPointF(-2.5, 0), screw + QPointF(2.5, 0));
        p.setPen(Qt::NoPen);
    }
}

QPainterPath outlinePath() {
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, 215, 450), 22, 22);
    return path;
}

} // namespace

namespace Artwork {

QImage skinImage() {
    QImage body = shadedBody(216, 450);
    {
        QPainter p(&body);
        p.setRenderHint(QPainter::Antialiasing);
        paintHeader(p);
        paintPanel(p);
        paintFooter(p);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 255, 255, 45), 1));
        p.setBrush(Qt::NoBrush);
        QPainterPath rim;
        rim.addRoundedRect(QRectF(2.5, 2.5, 210, 445), 20, 20);
        p.drawPath(rim);
    }
    return cutOut(body, outlinePath());
}

QImage appIcon(int size) {
    QImage skin = skinImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = kKeyColour.rgb();
    for (int y = 0; y < skin.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(skin.scanLine(y));
        for (int x = 0; x < skin.width(); ++x)
            if (line[x] == key) line[x] = qRgba(0, 0, 0, 0);
    }
    skin = skin.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.drawImage((size - skin.width()) / 2, (size - skin.height()) / 2, skin);
    return icon;
}

QIcon windowIcon() {
    static const QIcon icon = [] {
        QIcon painted;
        for (int size : {16, 32, 48, 64, 128, 256})
            painted.addPixmap(QPixmap::fromImage(appIcon(size)));
        return QIcon::fromTheme(kIconName, painted);
    }();
    return icon;
}

QImage pressedButtonImage(int kind) {
    QImage image = blank(57, 57, kPanel);
    QPainter p(&image);
    // The card's pressed picture lies one pixel left of its button.
    const int shift = kind == 2 ? kButtonFaces[2].x() - 79 : 0;
    paintButtonFace(p, QPoint(shift, 0), kind, true);
    return image;
}

namespace {
enum class Dome { Dark, Lit, Failed };

QImage lamp(int width, int height, Dome look) {
    QImage image = blank(width, height, kPanel);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(12, 12);
    QLinearGradient bezel(0, 1, 0, 23);
    bezel.setColorAt(0, QColor(20, 22, 25));
    bezel.setColorAt(1, QColor(118, 126, 136));
    p.setPen(Qt::NoPen);
    p.setBrush(bezel);
    p.drawEllipse(c, 10.5, 10.5);
    QRadialGradient dome(c + QPointF(-2, -2.5), 9);
    switch (look) {
    case Dome::Lit:
        dome.setColorAt(0, QColor(224, 255, 230));
        dome.setColorAt(0.35, QColor(96, 255, 140));
        dome.setColorAt(1, QColor(22, 160, 70));
        break;
    case Dome::Failed:
        dome.setColorAt(0, QColor(255, 226, 218));
        dome.setColorAt(0.35, QColor(255, 72, 48));
        dome.setColorAt(1, QColor(168, 22, 14));
        break;
    case Dome::Dark:
        dome.setColorAt(0, QColor(74, 104, 82));
        dome.setColorAt(1, QColor(18, 40, 26));
        break;
    }
    p.setBrush(dome);
    p.drawEllipse(c, 8, 8);
    p.setBrush(QColor(255, 255, 255, look == Dome::Dark ? 60 : 200));
    p.drawEllipse(c + QPointF(-3, -3.5), 2.2, 1.6);
    return image;
}

QImage barImage(bool full) {
    QImage image = blank(64, 211, kPanel);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(84, 93, 104), 1));
    p.setBrush(QColor(14, 16, 19));
    p.drawRoundedRect(QRectF(4.5, 0.5, 52, 207), 6, 6);
    p.setRenderHint(QPainter::Antialiasing, false);
    // An LED bar graph: segments from the bottom up, green turning amber near the top.
    for (int top = 6; top + 4 <= 202; top += 6) {
        const double height = 1.0 - double(top - 6) / 196.0;
        QColor lit = QColor::fromHsvF(0.36 - 0.26 * height, 0.85, 0.92);
        QColor dark = QColor(32, 37, 42);
        p.fillRect(QRect(11, top, 34, 4), full ? lit : dark);
        if (full) p.fillRect(QRect(11, top, 34, 1), lit.lighter(130));
    }
    // Scale marks at every tenth.
    p.setPen(QColor(120, 129, 140));
    for (int i = 0; i <= 10; ++i) {
        const int y = 5 + i * 196 / 10;
        p.drawLine(48, y, i % 5 == 0 ? 54 : 51, y);
    }
    return image;
}
} // namespace

QImage ledOn() {
    return lamp(24, 24, Dome::Lit);
}
QImage ledFailed() {
    return lamp(24, 24, Dome::Failed);
}
QImage ledOff() {
    return lamp(26, 25, Dome::Dark);
}
QImage barFull() {
    return barImage(true);
}
QImage barEmpty() {
    return barImage(false);
}

QImage closeImage() {
    QImage image = blank(16, 16, kScreen);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 30, 24), 1));
    p.setBrush(QColor(214, 72, 56));
    p.drawEllipse(QPointF(8, 8), 7, 7);
    p.setPen(QPen(QColor(255, 244, 240), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
    p.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
    return image;
}

QImage demoMark() {
    QImage image = blank(38, 15, kScreen);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(0, 0, 38, 15), 3, 3);
    p.setFont(artFont(10, true));
    p.setPen(kScreen);
    p.drawText(QRectF(0, 0, 38, 15), Qt::AlignCenter, QStringLiteral("DEMO"));
    return image;
}

} // namespace Artwork

namespace {
// A 33 x 33 button of the selection window: a steel face with a cross (Cancel) or a tick.
void paintSmallButton(QPainter& p, QPoint origin, bool tick) {
    p.save();
    p.translate(origin);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient steel(0, 0, 0, 33);
    steel.setColorAt(0, QColor(238, 241, 245));
    steel.setColorAt(1, QColor(178, 187, 197));
    p.setPen(QPen(kOutline, 1));
    p.setBrush(steel);
    p.drawRoundedRect(QRectF(0.5, 0.5, 32, 32), 7, 7);
    p.setPen(QPen(QColor(255, 255, 255, 170), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2, 2, 29, 29), 5.5, 5.5);
    if (tick) {
        p.setPen(QPen(QColor(30, 140, 62), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(9, 17), QPointF(14.5, 22.5), QPointF(24, 10.5)}));
    } else {
        p.setPen(QPen(QColor(196, 52, 40), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10.5, 10.5), QPointF(22.5, 22.5));
        p.drawLine(QPointF(22.5, 10.5), QPointF(10.5, 22.5));
    }
    p.restore();
}
} // namespace

namespace Artwork {

QImage latestSettingsSkin() {
    QImage body = shadedBody(184, 364);
    {
        QPainter p(&body);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(20, 23, 27), 1));
        p.setBrush(kSettingsPanel);
        p.drawRoundedRect(QRectF(7.5, 7.5, 169, 302), 6, 6);
        p.setPen(QPen(QColor(255, 255, 255, 45), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(2.5, 2.5, 178, 358), 12, 12);
        paintSmallButton(p, QPoint(48, 312), false); // Cancel
        paintSmallButton(p, QPoint(128, 312), true); // Save
    }
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, 183, 363), 14, 14);
    return cutOut(body, outline);
}

void paintFocusMark(QPainter& p) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kAccent, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(kButtonFace, 11, 11);
    p.restore();
}

} // namespace Artwork

QRegion faceOutline(const QImage& face) {
    const QImage image = face.convertToFormat(QImage::Format_RGB32);
    const QRgb key = kKeyColour.rgb();
    QRegion outline;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width();) {
            if ((line[x] | 0xff000000) == key) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width() && (line[x] | 0xff000000) != key)
                ++x;
            outline += QRect(start, y, x - start, 1);
        }
    }
    return outline;
}

QImage faceForDrawing(const QImage& face) {
    const QImage image = face.convertToFormat(QImage::Format_RGB32);
    QImage drawn = image;
    const QRgb key = kKeyColour.rgb();
    const auto isKey = [&](int x, int y) { return (image.pixel(x, y) | 0xff000000) == key; };
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isKey(x, y)) continue;
            for (const QPoint d : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1),
                                   QPoint(-1, -1), QPoint(1, -1), QPoint(-1, 1), QPoint(1, 1)}) {
                const QPoint n(x + d.x(), y + d.y());
                if (image.rect().contains(n) && !isKey(n.x(), n.y())) {
                    drawn.setPixel(x, y, image.pixel(n));
                    break;
                }
            }
        }
    }
    return drawn;
}
