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

bool German() {
    return DownloadSettings::Language == QLatin1String("DE");
}

} // namespace

Engine::Engine(EngineView* view, QObject* parent) : QObject(parent), view_(view) {
    cable_.closed = [this] { return ended_; };
    tmrStopPowerSaving_.setInterval(kKeepAwakeIntervalMs);
    connect(&tmrStopPowerSaving_, &QTimer::timeout, this, &Engine::tmrStopPowerSaving_Timer);
}

Engine::~Engine() {
    session_.reset(); // before the link it uses
    KeepAwake::Release();
}

QString Engine::VersionText() {
    return QStringLiteral(VANTREL_VERSION);
}

QString Engine::RevisionCaption() {
    return QStringLiteral("\u00A9 Fenwright Ltd.    Version ") + VersionText();
}

void Engine::setWindowPosition(qint32 topTwips, qint32 leftTwips) {
    windowTop_ = topTwips;
    windowLeft_ = leftTwips;
}

// Every start-up box: the window may be closed (SIGTERM too) while it is open, and then
// nothing more happens, not even a status line.
bool Engine::showBox(const QString& text) {
    ShowMessageBox(text);
    return !ended_;
}

// Temporary files of an engine killed while it saved: this engine holds the data folder, and
// one that another writer still holds is left alone.
void Engine::removeLeftovers() {
    int removed = 0;
    for (const QString& folder :
         {appDataPath_, DownloadSettings::VUDataPath, DownloadSettings::CardDataPath})
        removed += RemoveLeftoverTemporaries(folder);
    if (removed > 0)
        log_.sShowText(QStringLiteral("Unfinished temporary files removed - %1").arg(removed));
}

void Engine::Form_Load(const QString& commandLineText) {
    commandLineText_ = commandLineText;
    appDataPath_ = DataFolderPath();
    const bool folderMade = MakeFolderPath(appDataPath_);
    const FolderLock lock = instanceLock_.take(appDataPath_);
    if (lock == FolderLock::Held || lock == FolderLock::Unlockable) {
        // The other engine's log and status stay as they are: it is still writing them.
        ShowMessageBox(lock == FolderLock::Held
                           ? QStringLiteral("A download is already running")
                           : QStringLiteral("Can't lock the data folder\r\n") + appDataPath_);
        EndProgram();
        return;
    }
    const bool folderReady = prepareLog() && folderMade;
    SetDateLimits();
    DownloadSettings::LoadSettings(appDataPath_);
    log_.setLoggingOn(DownloadSettings::Log);
    logHeader(commandLineText);
    removeLeftovers();
    if (!folderReady && !showBox(QStringLiteral("Can't write the log file\r\n") + log_.filePath()))
        return;

    if (commandLineText.isEmpty()) {
        if (!showBox(German() ? QStringLiteral("Führen Sie diese Anwendung nicht einzeln aus")
                              : QStringLiteral("Do not run this application alone")))
            return;
        status_.WriteStatus(QStringLiteral("Failed"));
        EndProgram();
        return;
    }
    if (view_) {
        view_->setRevision(RevisionCaption());
        view_->setShown(DownloadSettings::DiagnosticsWindow);
    }
    FillNationAlpha();
    tmrStopPowerSaving_.start();
    tmrStopPowerSaving_Timer();

    if (FindCable(log_, status_, cable_) != 0) {
        if (!cable_.engineMustEnd && !ended_) {
            log_.sShowText(QStringLiteral("No VantrelPC cable"));
            if (showBox(NoCableText())) status_.WriteStatus(QStringLiteral("Failed"));
        }
        EndProgram();
        return;
    }

    const CommandLine command = ParseCommandLine(commandLineText);
    DownloadSettings::ComPort = qint16(cable_.ComPortNumber);
    applyCommandLine(command);
    if (command.downloadType == QLatin1Char('L') && !IsUsableTrepList(command.trepList)) {
        // The front end waits for a final status, so say "Failed" before the box.
        status_.WriteStatus(QStringLiteral("Failed"));
        ShowMessageBox(QStringLiteral("Invalid TREP list"));
        EndProgram();
        return;
    }
    logOptions();
    if (view_) view_->setShown(DownloadSettings::DiagnosticsWindow);
    startDownload(command);
}

bool Engine::prepareLog() {
    log_.setFilePath(appDataPath_ + QStringLiteral("/VNPC.log"));
    status_.setFilePath(appDataPath_ + QStringLiteral("/VNPCstatus.txt"));
    return log_.createEmpty();
}

void Engine::logHeader(const QString& commandLineText) {
    log_.sShowText(commandLineText + QStringLiteral("\r\nVantrelPC Version ") + VersionText() +
                   QStringLiteral("\r\nLog Folder ") + appDataPath_);
}

void Engine::applyCommandLine(const CommandLine& command) {
    DownloadSettings::DownloadType = command.downloadType;
    DownloadSettings::TrepList = command.trepList;
    DownloadSettings::LatestDays = command.latestDays;
    if (command.showWindow) DownloadSettings::DiagnosticsWindow = true;
    if (command.stayOpen) DownloadSettings::CloseDiagnosticsWindow = false;
    if (command.top || command.left) {
        setWindowPosition(command.top.value_or(windowTop_), command.left.value_or(windowLeft_));
        if (view_) view_->placeAt(windowTop_, windowLeft_);
    }
}

void Engine::logOptions() {
    log_.sShowText(QStringLiteral("Language: ") + DownloadSettings::Language);
    log_.sShowText(QStringLiteral("FileNameStyle: %1\r\nDiagnosticsWindow: %2\r\n"
                                  "CloseDiagnosticsWindow: %3\r\nPositon: {%4,%5}")
                       .arg(DownloadSettings::FileNameStyle,
                            BoolText(DownloadSettings::DiagnosticsWindow),
                            BoolText(DownloadSettings::CloseDiagnosticsWindow))
                       .arg(windowTop_)
                       .arg(windowLeft_));
}

void Engine::startDownload(const CommandLine& command) {
    trepSequence_ = BuildTrepSequence(command);
    if (command.downloadType == QLatin1Char('C')) status_.BlocksExpected = 28;
    if (command.downloadType == QLatin1Char('L')) sessionDays_ = DownloadSettings::LatestDays;
    if (command.downloadType == QLatin1Char('Z')) {
        status_.WriteStatus(QStringLiteral("Complete"));
        if (DownloadSettings::CloseDiagnosticsWindow) EndProgram();
        return;
    }
    StartSession();
}

void Engine::StartSession() {
    latencyTimer_.lower(cable_.ComPortNumber, log_);
    link_ = std::make_unique<SerialLinkQt>(cable_.ComPortNumber);
    session_ = std::make_unique<Session>(log_, status_, *link_);
    session_->trepSequence = trepSequence_;
    session_->SessionDays = sessionDays_;
    session_->commandLineText = commandLineText_;
    session_->endProgram = [this] { EndProgram(); };
    session_->StartSession();
}

void Engine::tmrStopPowerSaving_Timer() {
    KeepAwake::Hold();
}

void Engine::Form_Unload() {
    if (ended_) return;
    if (cable_.CableHandle) {
        FT_Close(cable_.CableHandle);
        cable_.CableHandle = nullptr;
    }
    tmrStopPowerSaving_.stop();
    KeepAwake::Release();
    if (session_) session_->stop();
    // The port first: the latency timer is put back through it.
    if (link_) link_->close();
    latencyTimer_.restore(&log_);
    ended_ = true;
    QCoreApplication::exit(0);
}

void Engine::EndProgram() {
    if (view_) view_->UnloadAllForms();
    Form_Unload();
}
