// The serial link of a session: opening the port, sending requests byte by byte, the
// speed change and the receive time-out.

#include "Conversions.h"
#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "Session.h"
#include "StatusFile.h"

#include <QTime>
#include <utility>

#include <algorithm>
#include <limits>

namespace {

constexpr int kMaxRxTries = 3;

// The tester must leave 5 ms to 20 ms between the bytes of a request; the setting can only
// lengthen the pause within that.
std::chrono::milliseconds InterBytePause() {
    return std::chrono::milliseconds(
        qBound(DownloadSettings::kDefaultInterBytePause, DownloadSettings::InterBytePause, 20));
}

} // namespace

int Session::RxTimeout() {
    return DownloadSettings::RXTIMEOUT > 0 ? DownloadSettings::RXTIMEOUT
                                           : DownloadSettings::kDefaultRxTimeout;
}

void Session::setRxInterval(qint64 milliseconds) {
    timerRx.setInterval(int(std::clamp<qint64>(milliseconds, 0, std::numeric_limits<int>::max())));
}

Session::Session(MessageLog& log, StatusFile& status, SerialLink& link, QObject* parent)
    : QObject(parent), log_(log), status_(status), link_(link) {
    timerRx.setSingleShot(false);
    connect(&timerRx, &QTimer::timeout, this, &Session::timerRx_Timer);
    link_.onReceived = [this](const QByteArray& piece) { Comm1_OnComm(piece); };
    link_.onLost = [this](const QString& description) { linkLost(description); };
}

void Session::StartSession() {
    SessionState = 1;
    BaudCode = 4;
    if (const auto error = link_.open(1)) {
        switch (error->kind) {
        case SerialLink::OpenFailure::NotAvailable:
            ShowMessageBox(QStringLiteral("Error: Selected Com port not available"));
            break;
        case SerialLink::OpenFailure::InUse:
            ShowMessageBox(QStringLiteral("Error: Selected Com port in use"));
            break;
        case SerialLink::OpenFailure::Other:
            ShowMessageBox(
                QStringLiteral("Error: %1 (%2)").arg(error->description).arg(error->number));
            break;
        }
        SessionState = 0;
        status_.WriteStatus(QStringLiteral("Failed - ") + error->description);
        // Nothing more can happen in this run: end it as every other failure ends.
        endSession();
        return;
    }
    // A pty cannot report its lines; the driver raises both when the port opens.
    log_.sShowText(
        QStringLiteral("Com Port Settings: DTR Enable: ") +
        BoolText(link_.dataTerminalReady().value_or(true)) + QStringLiteral("  RTS Holding: ") +
        BoolText(link_.requestToSend().value_or(true)) +
        QStringLiteral("\r\nCommand Parameters - ") + commandLineText + QStringLiteral("\r\n"));
    SessionStart = QDateTime::currentDateTime();
    log_.sShowText(SessionStart.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    DownloadData.clear();
    DataKind.clear();
    TrepIndex = 0;
    CurrentTrep = TrepFor(trepSequence[0], Numbering);
    RxRetries = 0;
    setRxInterval(RxTimeout());
    if (SessionState > 0) SendRequest();
    // A port lost during the first request has written the final status already.
    if (SessionState > 0) status_.WriteStatus(QStringLiteral("Downloading"));
}

void Session::SendRequest() {
    if (ended_) return; // told to end (while a box was open, say): nothing more goes out
    setRxInterval(RxTimeout());
    switch (SessionState) {
    case 0:
        link_.close();
        break;
    case 1:
        TransmitMessage(StartCommunication());
        break;
    case 2:
        TransmitMessage(StartDiagnosticSession());
        break;
    case 3:
        TransmitMessage(VerifyBaudRate(quint8(BaudCode)));
        break;
    case 4:
        TransmitMessage(TransitionBaudRate());
        changeSpeed();
        if (SessionState == 0) break; // the port did not come back at the new speed
        SessionState = 5;
        SendRequest();
        break;
    case 5:
        TransmitMessage(RequestUpload());
        break;
    case 6:
        sendTransferData();
        classifyDownload();
        break;
    case 7:
        TransmitMessage(TransferExit());
        break;
    case 8:
        TransmitMessage(StopCommunication());
        break;
    case 9:
        TransmitMessage(AcknowledgeSubMessage(quint16(SubMessageCounter)));
        break;
    case kInterfaceVersionState:
        TransmitMessage(TransferData(kInterfaceVersionTrep));
        break;
    default:
        timerRx.stop();
        ShowMessageBox(QStringLiteral("Invalid Comm State - %1").arg(SessionState));
        break;
    }
}

void Session::TransmitMessage(const QByteArray& message) {
    copies_ = message == LastRequest ? copies_ + 1 : 1;
    LastRequest = message;
    link_.pauseAfterReceived(std::chrono::milliseconds(DownloadSettings::InterMessagePause));
    ++requestsSent_;
    if (message.size() > 5 && message[4] == '\x36') trepBeingRead_ = quint8(message[5]);
    const auto pause = InterBytePause();
    for (const char byte : message) {
        link_.writeByte(byte);
        link_.pause(pause);
    }
    // The unit cannot answer a request it has not heard out: whatever is in by now answers
    // an earlier one, whatever it says.
    const QByteArray earlier = link_.takeReceived();
    const char checksum = char(Checksum(message));
    link_.writeByte(checksum);
    if (link_.isOpen()) // a port lost while writing has ended the session already
        timerRx.start();
    log_.ShowHex(message + checksum);
    log_.sShowText(QString());
    dropEarlierAnswers(earlier);
}

// Bytes that came in before the last request was out, and the frame still being received
// from before: dropped, the frame once it is whole. Its end cannot be told by time.
void Session::dropEarlierAnswers(const QByteArray& bytes) {
    if (!bytes.isEmpty()) {
        log_.ShowHex(bytes);
        log_.sShowText(QString());
    }
    for (const QByteArray& frame : assembler_.feed(bytes)) {
        ignoreAnswer(QStringLiteral("Late answer to an earlier request - ignored"));
        checkDropped(frame);
    }
    lateAnswerArriving_ = !assembler_.RxBuffer().isEmpty();
}

// The answer of another request: the session waits on for its own, the time-out running.
void Session::ignoreAnswer(const QString& why) {
    log_.sShowText(QString());
    log_.sShowText(why);
}

void Session::noteTaken(const QByteArray& response) {
    answeredRequest_ = LastRequest;
    answeredTrep_ = trepBeingRead_;
    answeredCopies_ = copies_;
    answerRepeated_ = takenAnswers_.contains(response);
    takenAnswers_.insert(response);
}

// A request that went out once has one answer. When the one taken for it repeated an earlier
// answer and another one comes after the session moved on, the taken one was a stale copy
// (a duplicate, or a late answer to an earlier request that looks alike): what was collected
// from it cannot be trusted. Answers to different copies of a request may differ.
void Session::checkDropped(const QByteArray& frame) {
    if (twoAnswers_ || !answerRepeated_ || answeredCopies_ != 1 ||
        answeredRequest_ == LastRequest || takenAnswers_.contains(frame) ||
        lCheckMessage(frame) != MessageId::TransferData ||
        !AnswersRequest(frame, answeredRequest_, answeredTrep_))
        return;
    twoAnswers_ = true;
    log_.sShowText(QStringLiteral("Two different answers to one request"));
    // In the closing exchange everything is in already: the final status says it.
    if (SessionState == 0 || inClosingExchange()) return;
    status_.WriteStatus(QStringLiteral("Failed - two answers to one request"));
    SessionState = 0;
    endSession();
}

void Session::ResendLastMessage() {
    TransmitMessage(LastRequest);
}

void Session::sendTransferData() {
    const quint8 trep = quint8(CurrentTrep);
    if (EntryOf(CurrentTrep, Numbering) == TrepEntry::Activities)
        TransmitMessage(TransferDataDated(trep, ActivityDay));
    else
        TransmitMessage(TransferData(trep));
}

// The kind of data this download holds, decided by the first TREP that tells.
void Session::classifyDownload() {
    // Where a first-generation number was refused, the card keeps the kind of the TREP before
    // it; a unit that gave its version 2 numbering counts its card as a card.
    if (Numbering != TrepNumbering::Gen2V1 || CurrentTrep != TrepEntry::Card)
        BaseTrep = EntryOf(CurrentTrep, Numbering);
    if (!DataKind.isEmpty()) return;
    if (BaseTrep == 1) return;
    if (BaseTrep >= 2 && BaseTrep <= 4) {
        DataKind = QStringLiteral("M");
    } else if (BaseTrep == 5) {
        if (TrepIndex >= 1) DataKind = QStringLiteral("M");
    } else if (BaseTrep == 6) {
        DataKind = QStringLiteral("C");
        CurrentTrep = 6;
    } else if (BaseTrep >= 17 && BaseTrep <= 21) {
        DataKind = QStringLiteral("S");
    } else if (BaseTrep == 23) {
        DataKind = QStringLiteral("C");
    } else if (BaseTrep == 25) {
        DataKind = QStringLiteral("W");
    } else {
        DataKind = QStringLiteral("U");
    }
}

// The vehicle unit does not answer Transition Baud Rate: once the request has left the
// port at the old speed, the next request already goes out at the new one.
void Session::changeSpeed() {
    link_.drain();
    link_.close();
    if (const auto error = link_.open(BaudCode)) linkLost(error->description);
}

void Session::timerRx_Timer() {
    timerRx.stop();
    const double secondsSinceMidnight = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    log_.sShowText(QStringLiteral("Rx Timeout - ") +
                   QString::number(double(float(secondsSinceMidnight)), 'g', 7));
    ++RxRetries;
    if (RxRetries < kMaxRxTries) {
        // A response that stopped half-way would swallow the start of the next answer.
        assembler_.clear();
        lateAnswerArriving_ = false;
        SendRequest();
        return;
    }
    if (SessionState == kInterfaceVersionState) {
        // No answer counts as a refusal: the unit is asked for its data as before. An answer
        // to the last copy may still come while that request goes out.
        assembler_.clear();
        lateAnswerArriving_ = false;
        RxRetries = 0;
        startTrepWalk(QString());
        SendRequest();
        return;
    }
    link_.close();
    if (inClosingExchange())
        closeAndSave(SessionState == 7 ? QStringLiteral("No answer to Transfer Exit")
                                       : QStringLiteral("No answer to Stop Communication"));
    else
        status_.WriteStatus(QStringLiteral("Failed - Receive timeout"));
    SessionState = 0;
    endSession();
}

void Session::Comm1_OnComm(const QByteArray& piece) {
    log_.ShowHex(piece);
    const quint64 sent = requestsSent_;
    for (const QByteArray& response : assembler_.feed(piece)) {
        if (ended_) return;
        // Frames behind one that made a request go out came in before that request.
        if (requestsSent_ != sent || std::exchange(lateAnswerArriving_, false)) {
            ignoreAnswer(QStringLiteral("Late answer to an earlier request - ignored"));
            checkDropped(response);
            continue;
        }
        const qint32 id = lCheckMessage(response);
        if (IsProtocolAnswer(id) && !AnswersRequest(response, LastRequest, trepBeingRead_)) {
            ignoreAnswer(QStringLiteral("Answer to another request - ignored"));
            checkDropped(response);
            continue;
        }
        if (id != MessageId::ResponsePending) noteTaken(response);
        timerRx.stop();
        RxRetries = 0;
        if (!IsProtocolAnswer(id)) ShowMessageBox(QStringLiteral("lResult - %1").arg(id));
        if (ended_) return; // told to end while the box was open
        log_.sShowText(QString());
        response_ = response;
        lRespondToMessage(id);
        log_.sShowText(QString());
    }
}

void Session::linkLost(const QString& description) {
    timerRx.stop();
    link_.close();
    // Pulled while a box of an ended session was open: its final status stands.
    if (SessionState == 0) return;
    log_.sShowText(QStringLiteral("Port lost - ") + description);
    if (inClosingExchange())
        closeAndSave(QString());
    else
        status_.WriteStatus(QStringLiteral("Failed - ") + description);
    SessionState = 0;
    endSession();
}

// The session is over: nothing more will be sent. The engine ends with it unless the
// settings keep its window open.
void Session::endSession() {
    timerRx.stop();
    link_.close();
    if (DownloadSettings::CloseDiagnosticsWindow && !ended_) {
        ended_ = true;
        if (endProgram) endProgram();
    }
}

// Data read whole is saved; anything less is reported as failed, so that whoever follows
// the status file sees an end. Nothing more is sent.
void Session::stop() {
    if (SessionState == 0) return;
    ended_ = true;
    timerRx.stop();
    link_.close();
    if (inClosingExchange())
        closeAndSave(QStringLiteral("Stopped during the closing exchange"));
    else
        status_.WriteStatus(QStringLiteral("Failed - Download stopped"));
    SessionState = 0;
}
