#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRegion>

class QPainter;

// Pixels of exactly this colour are not part of the window.
inline const QColor kKeyColour(192, 0, 192);

// A skinned window's outline: the pixels of its face that are not the key colour, in the
// face's own pixels, which are the window's logical pixels at every display scale.
QRegion faceOutline(const QImage& face);

// The face as it is drawn: key-colour pixels that touch the outline take a neighbour's colour.
// At a fractional display scale the system rounds the outline and the drawn face apart by up
// to a pixel; that pixel then shows the face's edge, never the key colour.
QImage faceForDrawing(const QImage& face);

// The window's pictures, painted at the sizes of the design.
namespace Artwork {

QImage skinImage();                  // 216 x 450, key colour outside the outline
QImage pressedButtonImage(int kind); // 57 x 57, for All VU (0), Latest VU (1), Card (2)
QImage ledOn();                      // 24 x 24
QImage ledFailed();                  // 24 x 24, lit in the colour of a failure
QImage ledOff();                     // 26 x 25
QImage barFull();                    // 64 x 211
QImage barEmpty();                   // 64 x 211
QImage closeImage();                 // 16 x 16
// The tag on the face of a window whose downloads come from the simulated unit.
QImage demoMark();
inline const QPoint kDemoMarkPlace(24, 22);
// The keyboard focus on a button: a ring over the outline of its 57 x 57 face at (0, 0).
void paintFocusMark(QPainter& p);

// The application icon, size x size: the skin with its key colour transparent, centred.
QImage appIcon(int size);
// The icon the desktop entry names, from the icon theme where it is installed and painted
// as appIcon otherwise; both windows show it.
inline const QString kIconName = QStringLiteral("vantrel-pc");
QIcon windowIcon();

// The Latest VU selection window's face with its Cancel and Save buttons drawn in.
QImage latestSettingsSkin();                       // 184 x 364
inline const QColor kSettingsPanel(193, 216, 241); // behind the check boxes

} // namespace Artwork
