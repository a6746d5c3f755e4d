#pragma once

#include "CommandLine.h"
#include "Framing.h"
#include "SerialLink.h"
#include "TrepNumbering.h"

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
    Session(MessageLog& log, StatusFile& status, SerialLink& link, QObject* parent = nullptr);

    // What the engine's start-up hands over.
    TrepSequence trepSequence{};
    qint32 SessionDays = 0;
    QString commandLineText;
    // Ends the engine program (closes its windows); called when the session is over and the
    // settings ask the engine to close.
    std::function<void()> endProgram;

    // Serial link and timers.
    void StartSession();
    void SendRequest();
    void TransmitMessage(const QByteArray& message);
    void ResendLastMessage();
    void timerRx_Timer();
    // The port's receive event: one piece of received bytes.
    void Comm1_OnComm(const QByteArray& piece);

    // State machine and TREP data.
    void lRespondToMessage(qint32 lMessageID);
    void GetTREPData();
    void SetNextTREP();

    // Output files.
    void BuildVuFileName();
    void SaveFile();

    QTimer timerRx;

    // Session state (serial link).
    qint32 SessionState = 0;
    qint32 BaudCode = 4;
    qint32 CurrentTrep = 0;
    qint32 BaseTrep = 0;
    TrepNumbering Numbering = TrepNumbering::Gen1;
    QString DataKind;
    qint16 TrepIndex = 0;
    qint32 SubMessageCounter = 1;
    qint32 ActivityDay = 0;
    QByteArray LastRequest;
    qint32 RxRetries = 0;
    QDateTime SessionStart;

    // State machine. After Request Upload the session asks once for the unit's download
    // interface version, in a state of its own, before the first TREP.
    static constexpr qint32 kInterfaceVersionState = 10;
    qint16 IntegrityErrors = 0;
    bool IntegrityLimitReached = false;
    qint16 SubFunctionRetries = 0;
    bool ResendPending = false;

    // TREP data.
    QByteArray DownloadData;
    QByteArray Trep5Data;
    qint32 PreviousTrep = 0;
    qint32 OldestDate = 0;
    qint32 LatestDate = 0;
    qint32 SubBlocks = 0;
    qint32 VuMakerCode = 0;
    QString VuMaker;
    QByteArray Vin;
    QString VuNation;
    QByteArray Vrn;
    QByteArray VuCurrentTime;
    QByteArray VuOldestTime;
    QByteArray VuLatestTime;
    QString VuFileName;

    // Output files.
    bool VuDataPresent = false;
    bool CardDataPresent = false;

    FrameAssembler& assembler() { return assembler_; }
    // The engine is told to end while the session runs.
    void stop();

private:
    // The receive time-out setting; one of 0 or less would fire before any answer.
    static int RxTimeout();
    // Sets timerRx to a time-out held within what a timer takes.
    void setRxInterval(qint64 milliseconds);
    void changeSpeed();
    void sendTransferData();
    void classifyDownload();
    void endSession();
    void linkLost(const QString& description);
    // Transfer Exit or Stop Communication is out: whatever will be read has been read.
    bool inClosingExchange() const { return SessionState == 7 || SessionState == 8; }
    void closeAndSave(const QString& problem);
    void saveCollected();
    QString finalStatus() const;
    void dropEarlierAnswers(const QByteArray& bytes);
    void ignoreAnswer(const QString& why);
    void noteTaken(const QByteArray& response);
    void checkDropped(const QByteArray& frame);

    // Reactions of the state machine.
    void fail(qint32 lMessageID);
    void skipTrep();
    void onTransferData(qint32 lMessageID, bool& sendAtEnd);
    void onIntegrityError();
    void onResponsePending();
    void onRefusal(qint32 lMessageID);
    void onInterfaceVersion(qint32 lMessageID, bool& sendAtEnd);
    void startTrepWalk(const QString& version);
    void repeatOrGiveUp(qint32 lMessageID);
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
    QByteArray response_;          // the response being handled, as received
    qsizetype trepStart_ = 0;      // where the current TREP's block begins in its data
    int repeats_ = 0;              // answers that only make the same request go out again
    bool ended_ = false;           // the program has been told to end
    bool fileLost_ = false;        // a file with data could be saved nowhere
    bool savedForClosing_ = false; // the last file was saved as the closing exchange began
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
};
