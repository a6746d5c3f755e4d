#pragma once

#include "CableDiscovery.h"
#include "CommandLine.h"
#include "EngineView.h"
#include "InstanceLock.h"
#include "LatencyTimer.h"
#include "MessageLog.h"
#include "StatusFile.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class Session;
class SerialLink;

// The download engine of one run: start-up, the download parameters, the log and the
// status file, and the end of the program.
class Engine : public QObject {
    Q_OBJECT
public:
    explicit Engine(EngineView* view = nullptr, QObject* parent = nullptr);
    ~Engine() override;

    // The start-up. When it returns, ended() tells whether the program is already over.
    void load(const QString& commandLineText);
    // The user closed the window (or asked the process to end): no status is written.
    void closedByUser();

    bool ended() const { return ended_; }

    MessageLog& log() { return log_; }
    StatusFile& status() { return status_; }
    const QString& appDataPath() const { return appDataPath_; }
    const TrepSequence& trepSequence() const { return trepSequence_; }
    Session* session() const { return session_.get(); }
    qint32 sessionDays() const { return sessionDays_; }
    qint32 windowTop() const { return windowTop_; }
    qint32 windowLeft() const { return windowLeft_; }
    void setWindowPosition(qint32 topTwips, qint32 leftTwips);

    static QString versionText();
    static QString revisionCaption();

private:
    bool prepareLog();
    bool showBox(const QString& text);
    void removeLeftovers();
    void logHeader(const QString& commandLineText);
    void logOptions();
    void applyCommandLine(const CommandLine& command);
    void startDownload(const CommandLine& command);
    void start();
    void endRun();
    void keepAwake();

    EngineView* view_;
    MessageLog log_;
    StatusFile status_{log_};
    CableState cable_;
    QString appDataPath_;
    QString commandLineText_;
    TrepSequence trepSequence_{};
    qint32 sessionDays_ = 0;
    qint32 windowTop_ = 0;
    qint32 windowLeft_ = 0;
    QTimer keepAwakeTimer_;
    std::unique_ptr<SerialLink> link_;
    std::unique_ptr<Session> session_;
    LatencyTimer latencyTimer_;
    InstanceLock instanceLock_;
    bool ended_ = false;
};
