#pragma once

#include "CommandLine.h"
#include "Framing.h"
#include "SerialLink.h"
#include "TrepNumbering.h"

#include <DownloadFiles.h>

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

class MessageLog;
class StatusFile;

// One download session with the vehicle unit: the serial link and its timers, the
// protocol's state machine, and the TREP data collected on the way.
class Session : public QObject {
    Q_OBJECT
public:
    // The steps of the protocol, each named for the request it sends (the number shows in the
    // "Invalid Comm State" box). After Request Upload the session asks once for the unit's
    // download interface version, in a step of its own, before the first TREP.
    enum class State : qint32 {
        Idle,
        StartCommunication,
        StartDiagnosticSession,
        VerifyBaudRate,
        TransitionBaudRate,
        RequestUpload,
        TransferData,
        TransferExit,
        StopCommunication,
        AcknowledgeSubMessage,
        InterfaceVersion,
    };

    // What the engine's start-up hands over.
    struct Plan {
        TrepSequence treps{};
        qint32 days = 0; // of activities, for a Latest VU download
        QString commandLineText;
    };

    Session(MessageLog& log, StatusFile& status, SerialLink& link, QObject* parent = nullptr);

    void start(const Plan& plan);
    // The engine is told to end while the session runs.
    void stop();
    // The port's receive event: one piece of received bytes.
    void onBytesReceived(const QByteArray& piece);
    // No answer came within the receive time-out.
    void onReceiveTimeout();

    // Ends the engine program (closes its windows); called when the session is over and the
    // settings ask the engine to close.
    std::function<void()> endProgram;

    State state() const { return exchange_.state; }
    TrepNumbering numbering() const { return walk_.numbering; }
    const QTimer& receiveTimer() const { return receiveTimer_; }

private:
    friend struct SessionFuzzSetup; // the fuzz target starts a walk half-way through

    void sendRequest();
    void transmit(const QByteArray& message);
    void resendLastRequest();
    void onAnswer(qint32 messageId);
    void takeTrepData();
    void setNextTrep();
    void buildVuFileName();
    void saveFile();

    // The receive time-out setting; one of 0 or less would fire before any answer.
    static int rxTimeout();
    // Sets the receive timer to a time-out held within what a timer takes.
    void setRxInterval(qint64 milliseconds);
    void changeSpeed();
    void sendTransferData();
    void classifyDownload();
    void endSession();
    void linkLost(const QString& description);
    // Transfer Exit or Stop Communication is out: whatever will be read has been read.
    bool inClosingExchange() const {
        return exchange_.state == State::TransferExit ||
               exchange_.state == State::StopCommunication;
    }
    void closeAndSave(const QString& problem);
    void saveCollected();
    QString finalStatus() const;
    void dropEarlierAnswers(const QByteArray& bytes);
    void ignoreAnswer(const QString& why);
    void noteTaken(const QByteArray& response);
    void checkDropped(const QByteArray& frame);

    // Reactions of the state machine.
    void fail(qint32 messageId);
    void skipTrep();
    void onTransferData(qint32 messageId, bool& sendAtEnd);
    void onIntegrityError();
    void onResponsePending();
    void onRefusal(qint32 messageId);
    void onInterfaceVersion(qint32 messageId, bool& sendAtEnd);
    void startTrepWalk(const QString& version);
    void repeatOrGiveUp(qint32 messageId);
    void dropPartialTrep();

    // TREP data.
    void storeEcho(const QByteArray& echo);
    QByteArray& currentBlockData();
    void appendData(const QByteArray& data);
    void countSubMessageProgress();
    void completeTrep();
    void readTechnicalData();
    void readOverview();
    void setDownloadPeriod();
    void takeNextEntry();
    qint32 trepWeight(qint32 baseTrep) const;
    qint32 expectedLatestVuBlocks() const;

    MessageLog& log_;
    StatusFile& status_;
    SerialLink& link_;
    FrameAssembler assembler_;
    QTimer receiveTimer_;

    // The exchange on the link: where it stands, the last request and its retries.
    struct Exchange {
        State state = State::Idle;
        qint32 baudCode = 4;
        QByteArray lastRequest;
        qint32 rxRetries = 0;
        qint16 integrityErrors = 0;
        bool integrityLimitReached = false;
        qint16 subFunctionRetries = 0;
        bool resendPending = false;
        QDateTime startTime;
    } exchange_;
    QByteArray response_; // the response being handled, as received
    int repeats_ = 0;     // answers that only make the same request go out again
    bool ended_ = false;  // the program has been told to end
    bool interfaceVersionAsked_ = false;
    // The frame being received began before the last request was out: it is not its answer.
    bool lateAnswerArriving_ = false;
    // Since when the unit has said that its answer to this request is pending.
    std::optional<std::chrono::steady_clock::time_point> pendingSince_;
    QByteArray pendingRequest_;
    quint64 requestsSent_ = 0;
    quint8 trepBeingRead_ = 0; // of the last Transfer Data request: its sub-messages carry it
    int copies_ = 0;           // how often the last request went out in a row
    // The last answer taken (pending ones aside): the request it answered, that request's
    // TREP and copies, and whether the same bytes had been taken before. Every answer taken.
    QByteArray answeredRequest_;
    quint8 answeredTrep_ = 0;
    int answeredCopies_ = 0;
    bool answerRepeated_ = false;
    QSet<QByteArray> takenAnswers_;
    bool twoAnswers_ = false; // a stale copy was taken for an answer: the download is in doubt

    // The walk through the TREPs asked for, and its progress.
    struct Walk {
        Plan plan;
        qint16 index = 0; // in the plan's TREPs
        qint32 currentTrep = 0;
        qint32 baseTrep = 0;
        qint32 previousTrep = 0;
        TrepNumbering numbering = TrepNumbering::Gen1;
        qint32 subMessageCounter = 1;
        qint32 activityDay = 0;
        qint32 oldestDate = 0;
        qint32 latestDate = 0;
        qint32 subBlocks = 0;
        qsizetype trepStart = 0; // where the current TREP's block begins in its data
    } walk_;

    // What the unit said about itself.
    struct Unit {
        qint32 makerCode = 0;
        QString maker;
        QByteArray vin;
        QString nation;
        QByteArray vrn;
        QByteArray currentTime;
        QByteArray oldestTime;
        QByteArray latestTime;
        QByteArray technicalData;
    } unit_;

    // The file being collected, and the files saved.
    QByteArray data_;
    QString dataKind_;
    QString fileName_;
    DownloadFiles files_{log_};
    bool savedForClosing_ = false; // the last file was saved as the closing exchange began
};
