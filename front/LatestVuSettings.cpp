#include "LatestVuSettings.h"

#include "Launcher.h"
#include "MessageBox.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace {
// The file's code for each box; box (0) has none.
const std::array<int, kCheckCount> kBoxCodes = {0, 2, 3, 4, 5, 6, 18, 17, 25};

QString boxCode(int box) {
    return QStringLiteral("%1").arg(kBoxCodes[box], 3, 10, QLatin1Char('0'));
}

int boxForCode(double code) {
    for (int box = 1; box < kCheckCount; ++box) {
        if (kBoxCodes[box] == code) return box;
    }
    return 0;
}
} // namespace

CheckStates defaultChecks() {
    CheckStates checks{};
    checks[1] = checks[2] = checks[4] = true;
    return checks;
}

void checkClicked(CheckStates& checks, int index) {
    if (index == 5 && checks[5]) checks[6] = false;
    if (index == 6 && checks[6]) checks[5] = false;
}

QString trepLineFor(const CheckStates& checks) {
    QString line;
    QString groupA;
    for (int box = 1; box <= 4; ++box) {
        if (checks[box]) groupA += boxCode(box);
    }
    if (!groupA.isEmpty()) line += QStringLiteral("001") + groupA;
    if (checks[5]) line += boxCode(5);
    QString groupB;
    if (checks[7]) groupB += boxCode(7);
    if (checks[6]) groupB += boxCode(6);
    // Other VDO data together with 4 Hz speed data brings the rest of the VDO blocks.
    if (groupB.size() > 5) groupB += QStringLiteral("019020021022024");
    if (!groupB.isEmpty()) line += QStringLiteral("001") + groupB;
    if (checks[8]) line += QStringLiteral("001") + boxCode(8);
    return line;
}

CheckStates checksFromTrepLine(const QString& line, CheckStates checks) {
    std::fill(checks.begin() + 1, checks.end(), false);
    for (qsizetype k = 0; line.size() > 3 * k + 2; ++k) {
        const int box = boxForCode(leadingNumber(line.mid(3 * k, 3)));
        if (box == 0 || checks[box]) continue;
        checks[box] = true;
        checkClicked(checks, box);
    }
    return checks;
}

DaysProblem checkDays(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?\\s*$"));
    if (!number.match(text).hasMatch()) return DaysProblem::NotNumber;
    bool ok = false;
    const double days = text.trimmed().toDouble(&ok);
    // Below 0 counts before rounding (-0.4 is refused); above 365 after it, so that 365.4
    // is taken and nothing that is saved can exceed 365. Too large for a double is refused.
    if (!ok || days < 0 || std::nearbyint(days) > 365) return DaysProblem::OutOfRange;
    return DaysProblem::None;
}

QString daysMessage(DaysProblem problem) {
    switch (problem) {
    case DaysProblem::NotNumber:
        return QStringLiteral("The number of days must be a number");
    case DaysProblem::OutOfRange:
        return QStringLiteral("The number of days must be between 0 and 365");
    case DaysProblem::None:
        break;
    }
    return QString();
}

std::optional<LatestVuFileLines> readLatestVuFile(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    LatestVuFileLines lines;
    lines.trepLine = readSettingsLine(file);
    if (!file.atEnd()) lines.days = readSettingsLine(file).trimmed();
    return lines;
}

bool writeLatestVuFile(const QString& path, const QString& trepLine, const QString& days) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray text =
        (trepLine + QStringLiteral("\r\n") + days + QStringLiteral("\r\n")).toUtf8();
    return file.write(text) == text.size() && file.flush();
}

void LatestVuSelection::load(const QString& filePath) {
    checks = defaultChecks();
    days = kDefaultDays;
    const std::optional<LatestVuFileLines> lines = readLatestVuFile(filePath);
    if (!lines) return;
    checks = checksFromTrepLine(lines->trepLine, checks);
    if (lines->days) days = *lines->days;
}

bool LatestVuSelection::save(const QString& filePath) {
    const DaysProblem problem = checkDays(days);
    if (problem != DaysProblem::None) {
        showMessageBox(daysMessage(problem));
        return false;
    }
    days = QString::number(roundedNumber(days.trimmed()));
    if (!writeLatestVuFile(filePath, trepLineFor(checks), days)) {
        showMessageBox(QStringLiteral("The 'Latest VU' settings could not be saved in\n") +
                       filePath);
        return false;
    }
    return true;
}

DaysProblem LatestVuSelection::validateDays() {
    const DaysProblem problem = checkDays(days);
    days = QString::number(roundedNumber(days.trimmed()));
    return problem;
}

QString checkName(int index) {
    return QStringLiteral("checkBox%1").arg(index);
}

const std::vector<DesignControl>& latestSettingsDesign() {
    // The face picture is 184 x 364 pixels.
    static const std::vector<DesignControl> design = {
        {kLatestWindowName, QRectF(0, 0, 2760, 5460), kWidth | kHeight},
        {checkName(0), QRectF(360, 240, 1800, 240), kAll},
        {checkName(1), QRectF(375, 600, 1800, 240), kAll},
        {checkName(2), QRectF(510, 1320, 1695, 360), kAll},
        {checkName(3), QRectF(570, 1800, 1695, 360), kAll},
        {checkName(4), QRectF(600, 2280, 1575, 360), kAll},
        {checkName(5), QRectF(630, 2760, 1830, 480), kAll},
        {checkName(6), QRectF(660, 3240, 1830, 480), kAll},
        {checkName(7), QRectF(675, 3720, 1815, 360), kAll},
        {checkName(8), QRectF(675, 4200, 1815, 360), kAll},
        {QStringLiteral("daysEdit"), QRectF(480, 840, 495, 285), kAll},
        {QStringLiteral("daysLabel"), QRectF(1080, 840, 975, 375), kAll},
        {QStringLiteral("cancelButton"), QRectF(720, 4680, 495, 495), kAll},
        {QStringLiteral("saveButton"), QRectF(1920, 4680, 495, 495), kAll},
    };
    return design;
}

QRectF* findControl(std::vector<DesignControl>& layout, const QString& name) {
    for (DesignControl& control : layout) {
        if (control.name == name) return &control.twips;
    }
    return nullptr;
}

std::vector<DesignControl> latestSettingsLayout(double twipsPerPixel) {
    std::vector<DesignControl> layout = convertDesign(latestSettingsDesign(), twipsPerPixel);
    // Check boxes draw taller on such displays; these two would cut their captions. The
    // 100 twips are the running display's, not converted.
    if (twipsPerPixel < kDesignTwipsPerPixel) {
        for (int index : {0, 1}) {
            QRectF* box = findControl(layout, checkName(index));
            box->setTop(box->top() - 100);
        }
    }
    return layout;
}

namespace {
LatestVuTexts englishTexts() {
    return {QStringLiteral("'Latest VU' Settings"),
            // A no-break space keeps "TREP" with its number, should a caption ever wrap.
            {QStringLiteral("Overview (TREP\u00A01)"), QStringLiteral("Activities (TREP\u00A02)"),
             QStringLiteral("Events && Faults (TREP\u00A03)"),
             QStringLiteral("Detailed Speed (TREP\u00A04)"),
             QStringLiteral("Technical Data (TREP\u00A05)"),
             QStringLiteral("Driver Card (in VU, TREP\u00A06)"), QStringLiteral("4Hz Speed Data"),
             QStringLiteral("Other VDO Special Data"), QStringLiteral("168h of Detailed Speed")},
            QStringLiteral("Days of Activities")};
}

void germanLayout(std::vector<DesignControl>& layout, double px) {
    QRectF* box[kCheckCount];
    for (int index = 0; index < kCheckCount; ++index)
        box[index] = findControl(layout, checkName(index));
    box[3]->setHeight(box[3]->height() + 5 * px);
    box[3]->setWidth(box[3]->width() + 10 * px);
    box[4]->moveTop(box[3]->top() + 32 * px);
    box[5]->moveTop(box[4]->top() + 24 * px);
    box[6]->moveTop(box[5]->top() + 24 * px);
    box[7]->moveTop(box[6]->top() + 32 * px);
    box[8]->moveTop(box[7]->top() + 34 * px);
    box[8]->setWidth(box[8]->width() + 4 * px);
    box[8]->moveLeft(box[8]->left() - 4 * px);
    box[8]->setHeight(40 * px);
}
} // namespace

LatestVuTexts languageStrings(const QString& language, std::vector<DesignControl>& layout,
                              double twipsPerPixel) {
    LatestVuTexts texts = englishTexts();
    if (language != QLatin1String("DE")) return texts;
    texts.windowCaption = QStringLiteral("\"Latest VU\" Einstellungen");
    texts.checkCaptions = {QStringLiteral("\u00DCberblick"),
                           QStringLiteral("Aktivit\u00E4ten"),
                           QStringLiteral("Ereignisse && St\u00F6rungen"),
                           QStringLiteral("Detaillierte Geschwindigkeit"),
                           QStringLiteral("Technische Daten"),
                           QStringLiteral("Fahrerkarte"),
                           QStringLiteral("4Hz Geschwindigkeit"),
                           QStringLiteral("Andere VDO Spezialdaten"),
                           QStringLiteral("Detaillierte Geschwindigkeit \u00FCber 168 Stunden")};
    texts.daysCaption = QStringLiteral("Tage mit Aktivit\u00E4ten");
    germanLayout(layout, twipsPerPixel);
    return texts;
}
