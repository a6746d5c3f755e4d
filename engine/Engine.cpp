#include "Engine.h"

#include "Conversions.h"
#include "DownloadSettings.h"
#include "Folders.h"
#include "KeepAwake.h"
#include "MessageBox.h"
#include "NationCodes.h"
#include "NewFile.h"
#include "SerialLinkQt.h"
#include "Session.h"

#include <QCoreApplication>

namespace {
constexpr int kKeepAwakeIntervalMs = 32000;

bool german() {
    return DownloadSettings::language == QLatin1String("DE");
}

} // namespace

Engine::Engine(EngineView* view, QObject* parent) : QObject(parent), view_(view) {
    cable_.closed = [this] { return ended_; };
    keepAwakeTimer_.setInterval(kKeepAwakeIntervalMs);
    connect(&keepAwakeTimer_, &QTimer::timeout, this, &Engine::keepAwake);
}

Engine::~Engine() {
    session_.reset(); // before the link it uses
    KeepAwake::release();
}

QString Engine::versionText() {
    return QStringLiteral(VANTREL_VERSION);
}

QString Engine::revisionCaption() {
    return QStringLiteral("\u00A9 Fenwright Ltd.    Version ") + versionText();
}

void Engine::setWindowPosition(qint32 topTwips, qint32 leftTwips) {
    windowTop_ = topTwips;
    windowLeft_ = leftTwips;
}

// Every start-up box: the window may be closed (SIGTERM too) while it is open, and then
// nothing more happens, not even a status line.
bool Engine::showBox(const QString& text) {
    showMessageBox(text);
    return !ended_;
}

// Temporary files of an engine killed while it saved: this engine holds the data folder, and
// one that another writer still holds is left alone.
void Engine::removeLeftovers() {
    int removed = 0;
    for (const QString& folder :
         {appDataPath_, DownloadSettings::vuDataPath, DownloadSettings::cardDataPath})
        removed += removeLeftoverTemporaries(folder);
    if (removed > 0)
        log_.line(QStringLiteral("Unfinished temporary files removed - %1").arg(removed));
}

void Engine::load(const QString& commandLineText) {
    commandLineText_ = commandLineText;
    appDataPath_ = dataFolderPath();
    const bool folderMade = makeFolderPath(appDataPath_);
    const FolderLock lock = instanceLock_.take(appDataPath_);
    if (lock == FolderLock::Held || lock == FolderLock::Unlockable) {
        // The other engine's log and status stay as they are: it is still writing them.
        showMessageBox(lock == FolderLock::Held
                           ? QStringLiteral("A download is already running")
                           : QStringLiteral("Can't lock the data folder\r\n") + appDataPath_);
        endRun();
        return;
    }
    const bool folderReady = prepareLog() && folderMade;
    setDateLimits();
    DownloadSettings::loadSettings(appDataPath_);
    log_.setLoggingOn(DownloadSettings::logging);
    logHeader(commandLineText);
    removeLeftovers();
    if (!folderReady && !showBox(QStringLiteral("Can't write the log file\r\n") + log_.filePath()))
        return;

    if (commandLineText.isEmpty()) {
        if (!showBox(german() ? QStringLiteral("Führen Sie diese Anwendung nicht einzeln aus")
                              : QStringLiteral("Do not run this application alone")))
            return;
        status_.writeStatus(QStringLiteral("Failed"));
        endRun();
        return;
    }
    if (view_) {
        view_->setRevision(revisionCaption());
        view_->setShown(DownloadSettings::diagnosticsWindow);
    }
    fillNationAlpha();
    keepAwakeTimer_.start();
    keepAwake();

    if (locateCable(log_, status_, cable_) != 0) {
        if (!cable_.engineMustEnd && !ended_) {
            log_.line(QStringLiteral("No VantrelPC cable"));
            if (showBox(noCableText())) status_.writeStatus(QStringLiteral("Failed"));
        }
        endRun();
        return;
    }

    const CommandLine command = parseCommandLine(commandLineText);
    DownloadSettings::comPort = qint16(cable_.comPortNumber);
    applyCommandLine(command);
    if (command.downloadType == QLatin1Char('L') && !isUsableTrepList(command.trepList)) {
        // The front end waits for a final status, so say "Failed" before the box.
        status_.writeStatus(QStringLiteral("Failed"));
        showMessageBox(QStringLiteral("Invalid TREP list"));
        endRun();
        return;
    }
    logOptions();
    if (view_) view_->setShown(DownloadSettings::diagnosticsWindow);
    startDownload(command);
}

bool Engine::prepareLog() {
    log_.setFilePath(appDataPath_ + QStringLiteral("/VNPC.log"));
    status_.setFilePath(appDataPath_ + QStringLiteral("/VNPCstatus.txt"));
    return log_.createEmpty();
}

void Engine::logHeader(const QString& commandLineText) {
    log_.line(commandLineText + QStringLiteral("\r\nVantrelPC Version ") + versionText() +
              QStringLiteral("\r\nLog Folder ") + appDataPath_);
}

void Engine::applyCommandLine(const CommandLine& command) {
    DownloadSettings::downloadType = command.downloadType;
    DownloadSettings::trepList = command.trepList;
    DownloadSettings::latestDays = command.latestDays;
    if (command.showWindow) DownloadSettings::diagnosticsWindow = true;
    if (command.stayOpen) DownloadSettings::closeDiagnosticsWindow = false;
    if (command.top || command.left) {
        setWindowPosition(command.top.value_or(windowTop_), command.left.value_or(windowLeft_));
        if (view_) view_->placeAt(windowTop_, windowLeft_);
    }
}

void Engine::logOptions() {
    log_.line(QStringLiteral("Language: ") + DownloadSettings::language);
    log_.line(QStringLiteral("FileNameStyle: %1\r\nDiagnosticsWindow: %2\r\n"
                             "CloseDiagnosticsWindow: %3\r\nPositon: {%4,%5}")
                  .arg(DownloadSettings::fileNameStyle,
                       boolText(DownloadSettings::diagnosticsWindow),
                       boolText(DownloadSettings::closeDiagnosticsWindow))
                  .arg(windowTop_)
                  .arg(windowLeft_));
}

void Engine::startDownload(const CommandLine& command) {
    trepSequence_ = buildTrepSequence(command);
    if (command.downloadType == QLatin1Char('L')) sessionDays_ = DownloadSettings::latestDays;
    if (command.downloadType == QLatin1Char('Z')) {
        status_.writeStatus(QStringLiteral("Complete"));
        if (DownloadSettings::closeDiagnosticsWindow) endRun();
        return;
    }
    start();
}

void Engine::start() {
    latencyTimer_.lower(cable_.comPortNumber, log_);
    link_ = std::make_unique<SerialLinkQt>(cable_.comPortNumber);
    session_ = std::make_unique<Session>(log_, status_, *link_);
    session_->endProgram = [this] { endRun(); };
    session_->start({trepSequence_, sessionDays_, commandLineText_});
}

void Engine::keepAwake() {
    KeepAwake::hold();
}

void Engine::closedByUser() {
    if (ended_) return;
    if (cable_.cableHandle) {
        FT_Close(cable_.cableHandle);
        cable_.cableHandle = nullptr;
    }
    keepAwakeTimer_.stop();
    KeepAwake::release();
    if (session_) session_->stop();
    // The port first: the latency timer is put back through it.
    if (link_) link_->close();
    latencyTimer_.restore(&log_);
    ended_ = true;
    QCoreApplication::exit(0);
}

void Engine::endRun() {
    if (view_) view_->closeAll();
    closedByUser();
}
