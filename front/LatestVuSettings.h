#pragma once

#include "Scaling.h"

#include <QString>
#include <array>
#include <optional>
#include <vector>

// The Latest VU selection: which data blocks (TREPs) and how many days of activities the
// Latest VU button downloads, kept in a two-line file of the data folder.

inline constexpr int kCheckCount = 9; // checkBoxes (0) to (8)
// Box (0), the overview, is always part of the download: it is neither read nor written.
using CheckStates = std::array<bool, kCheckCount>;

inline const QString kDefaultDays = QStringLiteral("60");

// Boxes (1) Activities, (2) Events & Faults and (4) Technical Data, as the window is designed.
CheckStates defaultChecks();

// Boxes (5) Driver Card and (6) 4Hz Speed Data exclude each other: the one just checked wins.
void checkClicked(CheckStates& checks, int index);

// Line 1 of the file: groups of three-digit codes, each group led by the overview "001".
QString trepLineFor(const CheckStates& checks);

// The boxes a line 1 sets: only complete three-character groups count, unknown codes set
// nothing; a box set later in the line wins the exclusive pair as a click would.
CheckStates checksFromTrepLine(const QString& line, CheckStates checks);

enum class DaysProblem { None, NotNumber, OutOfRange };
DaysProblem checkDays(const QString& text);
QString daysMessage(DaysProblem problem);

// The file's two lines, read alike by the window and the Latest VU button.
struct LatestVuFileLines {
    QString trepLine;            // as it stands
    std::optional<QString> days; // without blanks around it; absent without a second line
};
std::optional<LatestVuFileLines> readLatestVuFile(const QString& path);
bool writeLatestVuFile(const QString& path, const QString& trepLine, const QString& days);

// What the window shows and keeps; the window copies it to and from its controls.
struct LatestVuSelection {
    CheckStates checks = defaultChecks();
    QString days = kDefaultDays;

    // The design states, then the file's choice when there is a file.
    void load(const QString& filePath);
    // Checks the days (a message box when they are wrong), rounds them and writes the file.
    // False when nothing was written.
    bool save(const QString& filePath);
    // On leaving the days box: checks the days, then rounds them. What was wrong with them
    // is for the window to show.
    DaysProblem validateDays();
};

// The window's controls, named as in the window, with their design geometry in twips
// (15 per pixel). The window itself is "LatestVuWindow"; check boxes are "checkBox<i>".
const std::vector<DesignControl>& latestSettingsDesign();
inline const QString kLatestWindowName = QStringLiteral("LatestVuWindow");
QString checkName(int index);

// The design converted for a display with twipsPerPixel, keeping every pixel size. Below 15
// twips per pixel boxes (0) and (1) move up 100 twips and grow by 100.
std::vector<DesignControl> latestSettingsLayout(double twipsPerPixel);

struct LatestVuTexts {
    QString windowCaption;
    std::array<QString, kCheckCount> checkCaptions; // "&&" shows as one "&"
    QString daysCaption;
};

// The captions for the language; German also moves and widens some boxes of layout.
LatestVuTexts languageStrings(const QString& language, std::vector<DesignControl>& layout,
                              double twipsPerPixel);

// The geometry of one named control in layout; nullptr when it has none.
QRectF* findControl(std::vector<DesignControl>& layout, const QString& name);
