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

QLabel* smallLabel(QWidget* parent) {
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

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), lampOnImage(Artwork::ledOn()),
      lampFailedImage(Artwork::ledFailed()), lampOffImage(Artwork::ledOff()),
      progressBarImage(Artwork::barFull()), progressBackgroundImage(Artwork::barEmpty()),
      skin_(Artwork::skinImage()), face_(skin_),
      engineFolder_(QCoreApplication::applicationDirPath()) {
    setWindowTitle(kProgramTitle);
    setWindowIcon(Artwork::windowIcon());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kKeyColour);
    setPalette(palette);
    setAutoFillBackground(true);

    for (int kind = 0; kind < 3; ++kind) {
        pressedButtons[kind] = new SkinControl(this, Artwork::pressedButtonImage(kind));
        pressedButtons[kind]->setAttribute(Qt::WA_TransparentForMouseEvents);
        pressedButtons[kind]->hide();
        lamps[kind] = new ImageBox(kLampBlock.size(), this);
    }
    allVuButton = new SkinControl(this);
    latestVuButton = new SkinControl(this);
    cardButton = new SkinControl(this);
    progressBar = new ImageBox(kBarBlock.size(), this);
    closeButton = new SkinControl(this, Artwork::closeImage());
    versionLabel = smallLabel(this);
    copyrightLabel = smallLabel(this);
    copyrightLabel->setWordWrap(true);
    // The two labels overlap by design: keep the version clear of the notice.
    versionLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // Their text is drawn as part of the face (applySkinMask), not over it.
    versionLabel->hide();
    copyrightLabel->hide();

    allVuButton->setObjectName(QStringLiteral("allVuButton"));
    latestVuButton->setObjectName(QStringLiteral("latestVuButton"));
    cardButton->setObjectName(QStringLiteral("cardButton"));
    progressBar->setObjectName(QStringLiteral("progressBar"));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    copyrightLabel->setObjectName(QStringLiteral("copyrightLabel"));
    for (int index = 0; index < 3; ++index) {
        pressedButtons[index]->setObjectName(QStringLiteral("pressedButton%1").arg(index));
        lamps[index]->setObjectName(QStringLiteral("lamp%1").arg(index));
    }

    activityTimer.setInterval(1000);
    lampTimer.setInterval(1000);
    connect(allVuButton, &SkinControl::clicked, this, &MainWindow::startAllVu);
    connect(cardButton, &SkinControl::clicked, this, &MainWindow::startCard);
    connect(latestVuButton, &SkinControl::mouseDown, this, &MainWindow::latestVuPressed);
    connect(closeButton, &SkinControl::clicked, this, &QWidget::close);
    connect(&activityTimer, &QTimer::timeout, this, &MainWindow::pollActivity);
    connect(&lampTimer, &QTimer::timeout, this, &MainWindow::stepLamps);
    setUpKeyboard();
}

void MainWindow::setUpKeyboard() {
    // Tab goes round the three buttons. The window holds the focus until then, and takes it
    // back on a click, so that no button is pressed by Enter or Space without its mark.
    setFocusPolicy(Qt::ClickFocus);
    setFocus();
    for (SkinControl* button : {allVuButton, latestVuButton, cardButton})
        button->setFocusPolicy(Qt::TabFocus);
    // The letters of the engine's downloads; not in the selection window, a window of this one.
    const std::pair<Qt::Key, std::function<void()>> letters[] = {
        {Qt::Key_A, [this] { startAllVu(); }},
        {Qt::Key_L, [this] { latestVuPressed(Qt::LeftButton); }},
        {Qt::Key_C, [this] { startCard(); }}};
    for (const auto& [key, start] : letters) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, start);
    }
}

MainWindow::~MainWindow() {
    closeEngineWindows(engineProcessId, engineStartTime);
}

void MainWindow::load() {
    // Set by the demo script: a simulated download must not pass for a real one.
    demo_ = qEnvironmentVariable("VANTREL_DEMO") == QLatin1String("1");
    if (demo_) setWindowTitle(kProgramTitle + QStringLiteral(" - simulated unit"));
    applyLayout();
    appDataFolder = dataFolderPath();
    makeFolderPath(appDataFolder);
    DownloadSettings::loadSettings(appDataFolder);
    show();
    clearProgressBar();
    versionLabel->setText(QStringLiteral("Version ") + QStringLiteral(VANTREL_VERSION));
    copyrightLabel->setText(kCopyrightNotice + QString::number(QDate::currentDate().year()));
    // The label text below the skin is part of the window's outline too.
    applySkinMask();
    leds.mode = kLedIdle;
    darkenLamps();
    lampTimer.start();
}

void MainWindow::applyLayout() {
    const double twipsPerPixel = kDesignTwipsPerPixel; // Qt lays out in 96 dpi pixels
    for (const DesignControl& control : setLargeDPICompatibleDimensions(twipsPerPixel)) {
        const QRect r = twipsToPixels(control.twips, twipsPerPixel);
        const QString& name = control.name;
        if (name == QLatin1String("MainWindow"))
            setFixedSize(r.size());
        else if (name == QLatin1String("copyrightLabel"))
            copyrightLabel->setGeometry(r);
        else if (name == QLatin1String("versionLabel"))
            versionLabel->setGeometry(r);
        else if (name == QLatin1String("closeButton"))
            closeButton->setGeometry(QRect(r.topLeft(), QSize(16, 16)));
        else if (name.startsWith(QLatin1String("lamp")))
            lamps[name.back().digitValue()]->setGeometry(r);
        else if (name == QLatin1String("progressBar"))
            progressBar->setGeometry(r);
        else if (name == QLatin1String("allVuButton"))
            allVuButton->setGeometry(r);
        else if (name == QLatin1String("latestVuButton"))
            latestVuButton->setGeometry(r);
        else if (name == QLatin1String("cardButton"))
            cardButton->setGeometry(r);
        else if (name.startsWith(QLatin1String("pressedButton")))
            pressedButtons[name.back().digitValue()]->setGeometry(
                QRect(r.topLeft(), QSize(57, 57)));
    }
    // The hit areas lie over the pressed pictures.
    allVuButton->raise();
    latestVuButton->raise();
    cardButton->raise();
}

void MainWindow::applySkinMask() {
    // The skin and the label lines below it, composed in logical pixels: the outline and what
    // is drawn come from one image, so that they agree at every display scale.
    QImage face(size(), QImage::Format_RGB32);
    face.fill(kKeyColour);
    QPainter p(&face);
    p.drawImage(0, 0, skin_);
    if (demo_) p.drawImage(Artwork::kDemoMarkPlace, Artwork::demoMark());
    p.end();
    for (QLabel* label : {versionLabel, copyrightLabel})
        label->render(&face, label->pos(), QRegion(), QWidget::DrawChildren);
    face_ = faceForDrawing(face);
    setMask(faceOutline(face));
    update();
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, face_);
}

QString MainWindow::statusFilePath() const {
    return appDataFolder + QLatin1Char('/') + kStatusFileName;
}

void MainWindow::clearProgressBar() {
    progressBar->copyFrom(progressBackgroundImage, kBarBlock, QPoint(0, 0));
    progressBar->repaint();
}

void MainWindow::setLamp(int index, bool lit, bool failed) {
    if (index < 0 || index > 2) return;
    const QImage& look = !lit ? lampOffImage : failed ? lampFailedImage : lampOnImage;
    lamps[index]->copyFrom(look, kLampBlock, QPoint(0, 0));
    lamps[index]->repaint();
}

void MainWindow::darkenLamps() {
    for (int index = 0; index < 3; ++index)
        setLamp(index, false);
    leds.litLamp = -1;
}

void MainWindow::startAllVu() {
    startFromButton(kAllVU);
}

void MainWindow::startCard() {
    startFromButton(kCard);
}

void MainWindow::startFromButton(int kind) {
    pressedButtons[kind]->show();
    pressedButtons[kind]->repaint();
    clearProgressBar();
    launch(kind);
}

// Starts the download of kind while its pressed picture shows, then lets the button go.
void MainWindow::launch(int kind) {
    if (latestVuWindow_) latestVuWindow_->hide();
    downloadKind = kind;
    leds.index = kind;
    startMessages();
    pressedButtons[kind]->hide();
    pressedButtons[kind]->repaint();
}

void MainWindow::latestVuPressed(Qt::MouseButtons buttons) {
    if (buttons == Qt::RightButton) {
        showLatestSettings();
        return;
    }
    SkinControl* pressed = pressedButtons[kLatestVU];
    pressed->show();
    pressed->repaint();
    clearProgressBar();
    const std::optional<QString> selection =
        readLatestTrepText(appDataFolder + QLatin1Char('/') + kLatestVUFileName);
    if (!selection) {
        const MessageText message = latestSettingsMissingMessage(DownloadSettings::language);
        showMessageBox(message.text, message.title);
        pressed->hide();
        return;
    }
    latestTrepText = *selection;
    launch(kLatestVU);
}

QPoint MainWindow::latestVuWindowPosition() const {
    // 2630 and 1220 twips right of and below the main window's corner.
    return pos() + QPoint(int(std::lround(2630 / kDesignTwipsPerPixel)),
                          int(std::lround(1220 / kDesignTwipsPerPixel)));
}

void MainWindow::showLatestSettings() {
    if (!latestVuWindow_) return;
    // Showing loads the window, which places itself; it goes where the main window wants it.
    latestVuWindow_->show();
    latestVuWindow_->move(latestVuWindowPosition());
    // Already open, it may lie under the main window.
    latestVuWindow_->raise();
    latestVuWindow_->activateWindow();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    // Some window managers end their move after the release that ended the drag: the
    // selection window follows the window wherever it lands.
    if (latestVuWindow_ && latestVuWindow_->isVisible())
        latestVuWindow_->move(latestVuWindowPosition());
    QWidget::moveEvent(event);
}

void MainWindow::startMessages() {
    const auto twips = [](int pixels) {
        return qint64(std::lround(pixels * kDesignTwipsPerPixel));
    };
    const QString position = positionText(twips(y()), twips(x()));
    closeEngineWindows(engineProcessId, engineStartTime);
    // Claimed before the status file is touched and handed to the engine started below.
    const DataFolderClaim claim(appDataFolder);
    if (!claim.taken()) {
        // Another program's download (a headless one, say): its status file is not ours. The
        // button pressed shows the refusal, not the look the last download left.
        darkenLamps();
        showEnd(kLedFailed, QStringLiteral("Failed - another download is running"));
        stepLamps();
        showMessageBox(QStringLiteral("A download is already running"));
        return;
    }
    const QString argument = argumentText(downloadKind, latestTrepText, position);
    const QString engine = findEngine(engineFolder_);
    qint64 startTime = -1;
    qint64 pid = 0;
    if (!engine.isEmpty()) {
        // The old engine has ended: its last status must not be taken for the new one's.
        QFile::remove(statusFilePath());
        pid = startEngine(engine, argument, &startTime);
    }
    if (pid == 0) {
        // Found but not startable (no permission, broken file) is as unusable as missing.
        // The engine of a running download was closed above: nothing is left to poll. The
        // failure shows before the box, under which the lamps would otherwise go on moving.
        darkenLamps();
        showEnd(kLedFailed, QStringLiteral("Failed - ") + kEngineMissingText);
        stepLamps();
        showMessageBox(kEngineMissingText);
        return;
    }
    engineProcessId = pid;
    engineStartTime = startTime;
    setToolTip(QString());
    activityTimer.start();
    darkenLamps();
    leds.mode = kLedRunning;
    // A running blink keeps its beat; only a timer that the failure pattern stopped restarts.
    if (!lampTimer.isActive()) lampTimer.start();
}

void MainWindow::pollActivity() {
    // Asked before the read: an engine gone by then has written its last line.
    const bool engineEnded = !engineRunning(engineProcessId, engineStartTime);
    const QString line = readStatusLine(statusFilePath());
    switch (interpretPoll(line, engineEnded)) {
    case PollAction::Complete:
        showEnd(kLedComplete, line);
        QCoreApplication::processEvents();
        showProgress(QStringLiteral("0001/0001"));
        break;
    case PollAction::Failed:
        showEnd(kLedFailed, line);
        break;
    case PollAction::EngineEnded:
        if (interpretStatusLine(line) == PollAction::Progress) showProgress(line);
        showEnd(kLedFailed, kEngineEndedText);
        break;
    case PollAction::Progress:
        showProgress(line);
        break;
    case PollAction::Continue:
        break;
    }
}

// The poll ends; the lamps change at their next beat, and the face says how it ended.
void MainWindow::showEnd(qint16 ledMode, const QString& text) {
    leds.mode = ledMode;
    activityTimer.stop();
    setToolTip(text);
}

void MainWindow::showProgress(const QString& progress) {
    const int height = progressBar->height();
    const int width = progressBar->width();
    const BarFill fill = computeBarFill(progress, height);
    switch (fill.kind) {
    case BarFill::Empty:
        progressBar->copyFrom(progressBackgroundImage, QRect(0, 0, width, height), QPoint(0, 0));
        break;
    case BarFill::Full:
        progressBar->copyFrom(progressBarImage, QRect(0, 0, width, height), QPoint(0, 0));
        break;
    case BarFill::Strip:
        progressBar->copyFrom(progressBarImage,
                              QRect(0, fill.firstRow, width, height - fill.firstRow),
                              QPoint(0, fill.firstRow));
        break;
    }
    progressBar->repaint();
}

void MainWindow::stepLamps() {
    const LedStep step = leds.tick();
    if (step.stopTimer) lampTimer.stop();
    if (step.interval > 0) lampTimer.setInterval(step.interval);
    setLamp(step.lamp, step.lit, step.failed); // ignores -1, a step without a lamp
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->buttons() != Qt::LeftButton) return;
    // The label lines are drawn with the face but have no part in dragging it.
    const QPoint at = event->position().toPoint();
    if (versionLabel->geometry().contains(at) || copyrightLabel->geometry().contains(at)) return;
    settingsHiddenForDrag_ = latestVuWindow_ && latestVuWindow_->isVisible();
    if (settingsHiddenForDrag_) latestVuWindow_->hide();
    setCursor(Qt::SizeAllCursor);
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
    // The system moves the window where it can, and under Wayland only it can; elsewhere the
    // window follows the mouse here. The system may swallow the release that ends its move:
    // then the first move of the mouse with no button held tells.
    systemMove_ = beginSystemMove();
    if (systemMove_) setMouseTracking(true);
}

bool MainWindow::beginSystemMove() {
    return windowHandle() && windowHandle()->startSystemMove();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    if (!systemMove_)
        move(event->globalPosition().toPoint() - dragOffset_);
    else if (event->buttons() == Qt::NoButton)
        endDrag();
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
    endDrag();
}

void MainWindow::endDrag() {
    if (!dragging_) return;
    dragging_ = false;
    systemMove_ = false;
    setMouseTracking(false);
    unsetCursor();
    if (settingsHiddenForDrag_) showLatestSettings();
    settingsHiddenForDrag_ = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Our engine ends first, so its last lines reach the archive; another program's engine
    // is still writing its log.
    closeEngineWindows(engineProcessId, engineStartTime);
    if (!engineHoldsDataFolder(appDataFolder))
        archiveLog(appDataFolder, QStringLiteral("VNPC.log"));
    if (latestVuWindow_) latestVuWindow_->close();
    event->accept();
}
