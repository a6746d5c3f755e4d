#include "MainWindow.h"

#include "Artwork.h"
#include "DownloadSettings.h"
#include "Folders.h"
#include "Launcher.h"
#include "LogArchive.h"
#include "MessageBox.h"
#include "Progress.h"
#include "Scaling.h"
#include "SkinControls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QWindow>
#include <cmath>
#include <functional>

namespace {
const QString kCopyrightNotice = QStringLiteral("\u00A9 Fenwright Ltd. ");
const QRect kBarBlock(0, 0, 61, 208);
const QRect kLampBlock(0, 0, 24, 24);

QLabel* SmallLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setPointSizeF(8.25);
    // Plain pixels only: blended edges would take on the key colour around the text.
    font.setStyleStrategy(QFont::NoAntialias);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Shadow));
    label->setPalette(palette);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}
} // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), PictureLEDOnBuffer(Artwork::LedOn()),
      PictureLEDFailedBuffer(Artwork::LedFailed()), PictureLEDOffBuffer(Artwork::LedOff()),
      PictureProgBarBuffer(Artwork::BarFull()), PictureProgBgBuffer(Artwork::BarEmpty()),
      skin_(Artwork::Skin()), face_(skin_), engineFolder_(QCoreApplication::applicationDirPath()) {
    setWindowTitle(kProgramTitle);
    setWindowIcon(Artwork::WindowIcon());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kKeyColour);
    setPalette(palette);
    setAutoFillBackground(true);

    for (int kind = 0; kind < 3; ++kind) {
        ButtonPressed[kind] = new SkinControl(this, Artwork::ButtonPressed(kind));
        ButtonPressed[kind]->setAttribute(Qt::WA_TransparentForMouseEvents);
        ButtonPressed[kind]->hide();
        PictureLED[kind] = new PictureBox(kLampBlock.size(), this);
    }
    cmdAllVU = new SkinControl(this);
    cmdLatestVU = new SkinControl(this);
    cmdCard = new SkinControl(this);
    PictureProgBar = new PictureBox(kBarBlock.size(), this);
    Close = new SkinControl(this, Artwork::CloseImage());
    lblRev = SmallLabel(this);
    lblCopyright = SmallLabel(this);
    lblCopyright->setWordWrap(true);
    // The two labels overlap by design: keep the version clear of the notice.
    lblRev->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // Their text is drawn as part of the face (ApplySkinMask), not over it.
    lblRev->hide();
    lblCopyright->hide();

    cmdAllVU->setObjectName(QStringLiteral("cmdAllVU"));
    cmdLatestVU->setObjectName(QStringLiteral("cmdLatestVU"));
    cmdCard->setObjectName(QStringLiteral("cmdCard"));
    PictureProgBar->setObjectName(QStringLiteral("PictureProgBar"));
    Close->setObjectName(QStringLiteral("Close"));
    lblRev->setObjectName(QStringLiteral("lblRev"));
    lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
    for (int index = 0; index < 3; ++index) {
        ButtonPressed[index]->setObjectName(QStringLiteral("Button%1Pressed").arg(index));
        PictureLED[index]->setObjectName(QStringLiteral("PictureLED%1").arg(index));
    }

    timerActivity.setInterval(1000);
    tmrLEDs.setInterval(1000);
    connect(cmdAllVU, &SkinControl::clicked, this, &Form1::cmdAllVU_Click);
    connect(cmdCard, &SkinControl::clicked, this, &Form1::cmdCard_Click);
    connect(cmdLatestVU, &SkinControl::mouseDown, this, &Form1::cmdLatestVU_MouseDown);
    connect(Close, &SkinControl::clicked, this, &QWidget::close);
    connect(&timerActivity, &QTimer::timeout, this, &Form1::timerActivity_Timer);
    connect(&tmrLEDs, &QTimer::timeout, this, &Form1::tmrLEDs_Timer);
    SetUpKeyboard();
}

void Form1::SetUpKeyboard() {
    // Tab goes round the three buttons. The window holds the focus until then, and takes it
    // back on a click, so that no button is pressed by Enter or Space without its mark.
    setFocusPolicy(Qt::ClickFocus);
    setFocus();
    for (SkinControl* button : {cmdAllVU, cmdLatestVU, cmdCard})
        button->setFocusPolicy(Qt::TabFocus);
    // The letters of the engine's downloads; not in the selection window, a window of this one.
    const std::pair<Qt::Key, std::function<void()>> letters[] = {
        {Qt::Key_A, [this] { cmdAllVU_Click(); }},
        {Qt::Key_L, [this] { cmdLatestVU_MouseDown(Qt::LeftButton); }},
        {Qt::Key_C, [this] { cmdCard_Click(); }}};
    for (const auto& [key, start] : letters) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, start);
    }
}

Form1::~Form1() {
    CloseEngineWindows(EngineProcessId, EngineStartTime);
}

void Form1::Form_Load() {
    // Set by the demo script: a simulated download must not pass for a real one.
    demo_ = qEnvironmentVariable("VANTREL_DEMO") == QLatin1String("1");
    if (demo_) setWindowTitle(kProgramTitle + QStringLiteral(" - simulated unit"));
    ApplyLayout();
    AppDataFolder = DataFolderPath();
    MakeFolderPath(AppDataFolder);
    DownloadSettings::LoadSettings(AppDataFolder);
    show();
    ClearProgressBar();
    lblRev->setText(QStringLiteral("Version ") + QStringLiteral(VANTREL_VERSION));
    lblCopyright->setText(kCopyrightNotice + QString::number(QDate::currentDate().year()));
    // The label text below the skin is part of the window's outline too.
    ApplySkinMask();
    Leds.LedMode = kLedIdle;
    DarkenLamps();
    tmrLEDs.start();
}

void Form1::ApplyLayout() {
    const double twipsPerPixel = kDesignTwipsPerPixel; // Qt lays out in 96 dpi pixels
    for (const DesignControl& control : setLargeDPICompatibleDimensions(twipsPerPixel)) {
        const QRect r = TwipsToPixels(control.twips, twipsPerPixel);
        const QString& name = control.name;
        if (name == QLatin1String("Form1"))
            setFixedSize(r.size());
        else if (name == QLatin1String("lblCopyright"))
            lblCopyright->setGeometry(r);
        else if (name == QLatin1String("lblRev"))
            lblRev->setGeometry(r);
        else if (name == QLatin1String("Close"))
            Close->setGeometry(QRect(r.topLeft(), QSize(16, 16)));
        else if (name.startsWith(QLatin1String("PictureLED")))
            PictureLED[name.back().digitValue()]->setGeometry(r);
        else if (name == QLatin1String("PictureProgBar"))
            PictureProgBar->setGeometry(r);
        else if (name == QLatin1String("cmdAllVU"))
            cmdAllVU->setGeometry(r);
        else if (name == QLatin1String("cmdLatestVU"))
            cmdLatestVU->setGeometry(r);
        else if (name == QLatin1String("cmdCard"))
            cmdCard->setGeometry(r);
        else if (name.startsWith(QLatin1String("Button")))
            ButtonPressed[name.at(6).digitValue()]->setGeometry(QRect(r.topLeft(), QSize(57, 57)));
    }
    // The hit areas lie over the pressed pictures.
    cmdAllVU->raise();
    cmdLatestVU->raise();
    cmdCard->raise();
}

void Form1::ApplySkinMask() {
    // The skin and the label lines below it, composed in logical pixels: the outline and what
    // is drawn come from one image, so that they agree at every display scale.
    QImage face(size(), QImage::Format_RGB32);
    face.fill(kKeyColour);
    QPainter p(&face);
    p.drawImage(0, 0, skin_);
    if (demo_) p.drawImage(Artwork::kDemoMarkPlace, Artwork::DemoMark());
    p.end();
    for (QLabel* label : {lblRev, lblCopyright})
        label->render(&face, label->pos(), QRegion(), QWidget::DrawChildren);
    face_ = FaceForDrawing(face);
    setMask(FaceOutline(face));
    update();
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, face_);
}

QString Form1::statusFilePath() const {
    return AppDataFolder + QLatin1Char('/') + kStatusFileName;
}

void Form1::ClearProgressBar() {
    PictureProgBar->CopyFrom(PictureProgBgBuffer, kBarBlock, QPoint(0, 0));
    PictureProgBar->repaint();
}

void Form1::SetLamp(int index, bool lit, bool failed) {
    if (index < 0 || index > 2) return;
    const QImage& look = !lit     ? PictureLEDOffBuffer
                         : failed ? PictureLEDFailedBuffer
                                  : PictureLEDOnBuffer;
    PictureLED[index]->CopyFrom(look, kLampBlock, QPoint(0, 0));
    PictureLED[index]->repaint();
}

void Form1::DarkenLamps() {
    for (int index = 0; index < 3; ++index)
        SetLamp(index, false);
    Leds.LitLed = -1;
}

void Form1::cmdAllVU_Click() {
    StartFromButton(kAllVU);
}

void Form1::cmdCard_Click() {
    StartFromButton(kCard);
}

void Form1::StartFromButton(int kind) {
    ButtonPressed[kind]->show();
    ButtonPressed[kind]->repaint();
    ClearProgressBar();
    Launch(kind);
}

// Starts the download of kind while its pressed picture shows, then lets the button go.
void Form1::Launch(int kind) {
    if (frmLatestSettings) frmLatestSettings->hide();
    DownloadKind = kind;
    Leds.LedIndex = kind;
    StartMessages();
    ButtonPressed[kind]->hide();
    ButtonPressed[kind]->repaint();
}

void Form1::cmdLatestVU_MouseDown(Qt::MouseButtons buttons) {
    if (buttons == Qt::RightButton) {
        ShowLatestSettings();
        return;
    }
    SkinControl* pressed = ButtonPressed[kLatestVU];
    pressed->show();
    pressed->repaint();
    ClearProgressBar();
    const std::optional<QString> selection =
        ReadLatestTrepText(AppDataFolder + QLatin1Char('/') + kLatestVUFileName);
    if (!selection) {
        const MessageText message = LatestSettingsMissingMessage(DownloadSettings::Language);
        ShowMessageBox(message.text, message.title);
        pressed->hide();
        return;
    }
    LatestTrepText = *selection;
    Launch(kLatestVU);
}

QPoint Form1::LatestSettingsPosition() const {
    // 2630 and 1220 twips right of and below the main window's corner.
    return pos() + QPoint(int(std::lround(2630 / kDesignTwipsPerPixel)),
                          int(std::lround(1220 / kDesignTwipsPerPixel)));
}

void Form1::ShowLatestSettings() {
    if (!frmLatestSettings) return;
    // Showing loads the window, which places itself; it goes where the main window wants it.
    frmLatestSettings->show();
    frmLatestSettings->move(LatestSettingsPosition());
    // Already open, it may lie under the main window.
    frmLatestSettings->raise();
    frmLatestSettings->activateWindow();
}

void Form1::moveEvent(QMoveEvent* event) {
    // Some window managers end their move after the release that ended the drag: the
    // selection window follows the window wherever it lands.
    if (frmLatestSettings && frmLatestSettings->isVisible())
        frmLatestSettings->move(LatestSettingsPosition());
    QWidget::moveEvent(event);
}

void Form1::StartMessages() {
    const auto twips = [](int pixels) {
        return qint64(std::lround(pixels * kDesignTwipsPerPixel));
    };
    const QString position = PositionText(twips(y()), twips(x()));
    CloseEngineWindows(EngineProcessId, EngineStartTime);
    // Claimed before the status file is touched and handed to the engine started below.
    const DataFolderClaim claim(AppDataFolder);
    if (!claim.taken()) {
        // Another program's download (a headless one, say): its status file is not ours. The
        // button pressed shows the refusal, not the look the last download left.
        DarkenLamps();
        ShowEnd(kLedFailed, QStringLiteral("Failed - another download is running"));
        tmrLEDs_Timer();
        ShowMessageBox(QStringLiteral("A download is already running"));
        return;
    }
    const QString argument = ArgumentText(DownloadKind, LatestTrepText, position);
    const QString engine = FindEngine(engineFolder_);
    qint64 startTime = -1;
    qint64 pid = 0;
    if (!engine.isEmpty()) {
        // The old engine has ended: its last status must not be taken for the new one's.
        QFile::remove(statusFilePath());
        pid = StartEngine(engine, argument, &startTime);
    }
    if (pid == 0) {
        // Found but not startable (no permission, broken file) is as unusable as missing.
        // The engine of a running download was closed above: nothing is left to poll. The
        // failure shows before the box, under which the lamps would otherwise go on moving.
        DarkenLamps();
        ShowEnd(kLedFailed, QStringLiteral("Failed - ") + kEngineMissingText);
        tmrLEDs_Timer();
        ShowMessageBox(kEngineMissingText);
        return;
    }
    EngineProcessId = pid;
    EngineStartTime = startTime;
    setToolTip(QString());
    timerActivity.start();
    DarkenLamps();
    Leds.LedMode = kLedRunning;
    // A running blink keeps its beat; only a timer that the failure pattern stopped restarts.
    if (!tmrLEDs.isActive()) tmrLEDs.start();
}

void Form1::timerActivity_Timer() {
    // Asked before the read: an engine gone by then has written its last line.
    const bool engineEnded = !EngineRunning(EngineProcessId, EngineStartTime);
    const QString line = ReadStatusLine(statusFilePath());
    switch (InterpretPoll(line, engineEnded)) {
    case PollAction::Complete:
        ShowEnd(kLedComplete, line);
        QCoreApplication::processEvents();
        ShowProgress(QStringLiteral("0001/0001"));
        break;
    case PollAction::Failed:
        ShowEnd(kLedFailed, line);
        break;
    case PollAction::EngineEnded:
        if (InterpretStatusLine(line) == PollAction::Progress) ShowProgress(line);
        ShowEnd(kLedFailed, kEngineEndedText);
        break;
    case PollAction::Progress:
        ShowProgress(line);
        break;
    case PollAction::Continue:
        break;
    }
}

// The poll ends; the lamps change at their next beat, and the face says how it ended.
void Form1::ShowEnd(qint16 ledMode, const QString& text) {
    Leds.LedMode = ledMode;
    timerActivity.stop();
    setToolTip(text);
}

void Form1::ShowProgress(const QString& sProgress) {
    const int height = PictureProgBar->height();
    const int width = PictureProgBar->width();
    const BarFill fill = ComputeBarFill(sProgress, height);
    switch (fill.kind) {
    case BarFill::Empty:
        PictureProgBar->CopyFrom(PictureProgBgBuffer, QRect(0, 0, width, height), QPoint(0, 0));
        break;
    case BarFill::Full:
        PictureProgBar->CopyFrom(PictureProgBarBuffer, QRect(0, 0, width, height), QPoint(0, 0));
        break;
    case BarFill::Strip:
        PictureProgBar->CopyFrom(PictureProgBarBuffer,
                                 QRect(0, fill.firstRow, width, height - fill.firstRow),
                                 QPoint(0, fill.firstRow));
        break;
    }
    PictureProgBar->repaint();
}

void Form1::tmrLEDs_Timer() {
    const LedStep step = Leds.Tick();
    if (step.stopTimer) tmrLEDs.stop();
    if (step.interval > 0) tmrLEDs.setInterval(step.interval);
    SetLamp(step.lamp, step.lit, step.failed); // ignores -1, a step without a lamp
}

void Form1::mousePressEvent(QMouseEvent* event) {
    if (event->buttons() != Qt::LeftButton) return;
    // The label lines are drawn with the face but have no part in dragging it.
    const QPoint at = event->position().toPoint();
    if (lblRev->geometry().contains(at) || lblCopyright->geometry().contains(at)) return;
    settingsHiddenForDrag_ = frmLatestSettings && frmLatestSettings->isVisible();
    if (settingsHiddenForDrag_) frmLatestSettings->hide();
    setCursor(Qt::SizeAllCursor);
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
    // The system moves the window where it can, and under Wayland only it can; elsewhere the
    // window follows the mouse here. The system may swallow the release that ends its move:
    // then the first move of the mouse with no button held tells.
    systemMove_ = StartSystemMove();
    if (systemMove_) setMouseTracking(true);
}

bool Form1::StartSystemMove() {
    return windowHandle() && windowHandle()->startSystemMove();
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    if (!systemMove_)
        move(event->globalPosition().toPoint() - dragOffset_);
    else if (event->buttons() == Qt::NoButton)
        EndDrag();
}

void Form1::mouseReleaseEvent(QMouseEvent*) {
    EndDrag();
}

void Form1::EndDrag() {
    if (!dragging_) return;
    dragging_ = false;
    systemMove_ = false;
    setMouseTracking(false);
    unsetCursor();
    if (settingsHiddenForDrag_) ShowLatestSettings();
    settingsHiddenForDrag_ = false;
}

void Form1::closeEvent(QCloseEvent* event) {
    // Our engine ends first, so its last lines reach the archive; another program's engine
    // is still writing its log.
    CloseEngineWindows(EngineProcessId, EngineStartTime);
    if (!EngineHoldsDataFolder(AppDataFolder))
        ArchiveLog(AppDataFolder, QStringLiteral("VNPC.log"));
    if (frmLatestSettings) frmLatestSettings->close();
    event->accept();
}
