#pragma once

#include <QColor>
#include <QImage>

// Pixels of exactly this colour are not part of the window.
inline const QColor kKeyColour(192, 0, 192);

// The window's pictures, painted at the sizes of the design.
namespace Artwork {

QImage Skin();                  // 216 x 450, key colour outside the outline
QImage ButtonPressed(int kind); // 57 x 57, for All VU (0), Latest VU (1), Card (2)
QImage LedOn();                 // 24 x 24
QImage LedOff();                // 26 x 25
QImage BarFull();               // 64 x 211
QImage BarEmpty();              // 64 x 211
QImage CloseImage();            // 16 x 16

// The Latest VU selection window's face with its Cancel and Save buttons drawn in.
QImage LatestSettingsSkin();                       // 184 x 364
inline const QColor kSettingsPanel(193, 216, 241); // behind the check boxes

} // namespace Artwork
