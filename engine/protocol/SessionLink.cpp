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
std::chrono::milliseconds interBytePause() {
    return std::chrono::milliseconds(
        qBound(DownloadSettings::kDefaultInterBytePause, DownloadSettings::interBytePause, 20));
}

} // namespace

int Session::rxTimeout() {
    return DownloadSettings::rxTimeout > 0 ? DownloadSettings::rxTimeout
                                           : DownloadSettings::kDefaultRxTimeout;
}

void Session::setRxInterval(qint64 milliseconds) {
    receiveTimer_.setInterval(
        int(std::clamp<qint64>(milliseconds, 0, std::numeric_limits<int>::max())));
}

Session::Session(MessageLog& log, StatusFile& status, SerialLink& link, QObject* parent)
    : QObject(parent), log_(log), status_(status), link_(link) {
    receiveTimer_.setSingleShot(false);
    connect(&receiveTimer_, &QTimer::timeout, this, &Session::onReceiveTimeout);
    link_.onReceived = [this](const QByteArray& piece) { onBytesReceived(piece); };
    link_.onLost = [this](const QString& description) { linkLost(description); };
}

void Session::start(const Plan& plan) {
    walk_.plan = plan;
    exchange_.state = State::StartCommunication;
    exchange_.baudCode = 4;
    if (const auto error = link_.open(1)) {
        switch (error->kind) {
        case SerialLink::OpenFailure::NotAvailable:
            showMessageBox(QStringLiteral("Error: Selected Com port not available"));
            break;
        case SerialLink::OpenFailure::InUse:
            showMessageBox(QStringLiteral("Error: Selected Com port in use"));
            break;
        case SerialLink::OpenFailure::Other:
            showMessageBox(
                QStringLiteral("Error: %1 (%2)").arg(error->description).arg(error->number));
            break;
        }
        exchange_.state = State::Idle;
        status_.writeStatus(QStringLiteral("Failed - ") + error->description);
        // Nothing more can happen in this run: end it as every other failure ends.
        endSession();
        return;
    }
    // A pty cannot report its lines; the driver raises both when the port opens.
    log_.line(QStringLiteral("Com Port Settings: DTR Enable: ") +
              boolText(link_.dataTerminalReady().value_or(true)) +
              QStringLiteral("  RTS Holding: ") + boolText(link_.requestToSend().value_or(true)) +
              QStringLiteral("\r\nCommand Parameters - ") + walk_.plan.commandLineText +
              QStringLiteral("\r\n"));
    exchange_.startTime = QDateTime::currentDateTime();
    log_.line(exchange_.startTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    data_.clear();
    dataKind_.clear();
    walk_.index = 0;
    walk_.currentTrep = trepFor(walk_.plan.treps[0], walk_.numbering);
    exchange_.rxRetries = 0;
    setRxInterval(rxTimeout());
    if (exchange_.state != State::Idle) sendRequest();
    // A port lost during the first request has written the final status already.
    if (exchange_.state != State::Idle) status_.writeStatus(QStringLiteral("Downloading"));
}

void Session::sendRequest() {
    if (ended_) return; // told to end (while a box was open, say): nothing more goes out
    setRxInterval(rxTimeout());
    switch (exchange_.state) {
    case State::Idle:
        link_.close();
        break;
    case State::StartCommunication:
        transmit(startCommunication());
        break;
    case State::StartDiagnosticSession:
        transmit(startDiagnosticSession());
        break;
    case State::VerifyBaudRate:
        transmit(verifyBaudRate(quint8(exchange_.baudCode)));
        break;
    case State::TransitionBaudRate:
        transmit(transitionBaudRate());
        changeSpeed();
        if (exchange_.state == State::Idle) break; // the port did not come back at the new speed
        exchange_.state = State::RequestUpload;
        sendRequest();
        break;
    case State::RequestUpload:
        transmit(requestUpload());
        break;
    case State::TransferData:
        sendTransferData();
        classifyDownload();
        break;
    case State::TransferExit:
        transmit(transferExit());
        break;
    case State::StopCommunication:
        transmit(stopCommunication());
        break;
    case State::AcknowledgeSubMessage:
        transmit(acknowledgeSubMessage(quint16(walk_.subMessageCounter)));
        break;
    case State::InterfaceVersion:
        transmit(transferData(kInterfaceVersionTrep));
        break;
    default:
        receiveTimer_.stop();
        showMessageBox(QStringLiteral("Invalid Comm State - %1").arg(qint32(exchange_.state)));
        break;
    }
}

void Session::transmit(const QByteArray& message) {
    copies_ = message == exchange_.lastRequest ? copies_ + 1 : 1;
    exchange_.lastRequest = message;
    link_.pauseAfterReceived(std::chrono::milliseconds(DownloadSettings::interMessagePause));
    ++requestsSent_;
    if (message.size() > 5 && message[4] == '\x36') trepBeingRead_ = quint8(message[5]);
    const auto pause = interBytePause();
    for (const char byte : message) {
        link_.writeByte(byte);
        link_.pause(pause);
    }
    // The unit cannot answer a request it has not heard out: whatever is in by now answers
    // an earlier one, whatever it says.
    const QByteArray earlier = link_.takeReceived();
    const char lastByte = char(checksum(message));
    link_.writeByte(lastByte);
    if (link_.isOpen()) // a port lost while writing has ended the session already
        receiveTimer_.start();
    log_.hex(message + lastByte);
    log_.line(QString());
    dropEarlierAnswers(earlier);
}

// Bytes that came in before the last request was out, and the frame still being received
// from before: dropped, the frame once it is whole. Its end cannot be told by time.
void Session::dropEarlierAnswers(const QByteArray& bytes) {
    if (!bytes.isEmpty()) {
        log_.hex(bytes);
        log_.line(QString());
    }
    for (const QByteArray& frame : assembler_.feed(bytes)) {
        ignoreAnswer(QStringLiteral("Late answer to an earlier request - ignored"));
        checkDropped(frame);
    }
    lateAnswerArriving_ = !assembler_.rxBuffer().isEmpty();
}

// The answer of another request: the session waits on for its own, the time-out running.
void Session::ignoreAnswer(const QString& why) {
    log_.line(QString());
    log_.line(why);
}

void Session::noteTaken(const QByteArray& response) {
    answeredRequest_ = exchange_.lastRequest;
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
        answeredRequest_ == exchange_.lastRequest || takenAnswers_.contains(frame) ||
        messageIdOf(frame) != MessageId::TransferData ||
        !answersRequest(frame, answeredRequest_, answeredTrep_))
        return;
    twoAnswers_ = true;
    log_.line(QStringLiteral("Two different answers to one request"));
    // In the closing exchange everything is in already: the final status says it.
    if (exchange_.state == State::Idle || inClosingExchange()) return;
    status_.writeStatus(QStringLiteral("Failed - two answers to one request"));
    exchange_.state = State::Idle;
    endSession();
}

void Session::resendLastRequest() {
    transmit(exchange_.lastRequest);
}

void Session::sendTransferData() {
    const quint8 trep = quint8(walk_.currentTrep);
    if (entryOf(walk_.currentTrep, walk_.numbering) == TrepEntry::Activities)
        transmit(transferDataDated(trep, walk_.activityDay));
    else
        transmit(transferData(trep));
}

// The kind of data this download holds, decided by the first TREP that tells.
void Session::classifyDownload() {
    // Where a first-generation number was refused, the card keeps the kind of the TREP before
    // it; a unit that gave its version 2 numbering counts its card as a card.
    if (walk_.numbering != TrepNumbering::Gen2V1 || walk_.currentTrep != TrepEntry::Card)
        walk_.baseTrep = entryOf(walk_.currentTrep, walk_.numbering);
    if (!dataKind_.isEmpty()) return;
    if (walk_.baseTrep == 1) return;
    if (walk_.baseTrep >= 2 && walk_.baseTrep <= 4) {
        dataKind_ = QStringLiteral("M");
    } else if (walk_.baseTrep == 5) {
        if (walk_.index >= 1) dataKind_ = QStringLiteral("M");
    } else if (walk_.baseTrep == 6) {
        dataKind_ = QStringLiteral("C");
        walk_.currentTrep = 6;
    } else if (walk_.baseTrep >= 17 && walk_.baseTrep <= 21) {
        dataKind_ = QStringLiteral("S");
    } else if (walk_.baseTrep == 23) {
        dataKind_ = QStringLiteral("C");
    } else if (walk_.baseTrep == 25) {
        dataKind_ = QStringLiteral("W");
    } else {
        dataKind_ = QStringLiteral("U");
    }
}

// The vehicle unit does not answer Transition Baud Rate: once the request has left the
// port at the old speed, the next request already goes out at the new one.
void Session::changeSpeed() {
    link_.drain();
    link_.close();
    if (const auto error = link_.open(exchange_.baudCode)) linkLost(error->description);
}

void Session::onReceiveTimeout() {
    receiveTimer_.stop();
    const double secondsSinceMidnight = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    log_.line(QStringLiteral("Rx Timeout - ") +
              QString::number(double(float(secondsSinceMidnight)), 'g', 7));
    ++exchange_.rxRetries;
    if (exchange_.rxRetries < kMaxRxTries) {
        // A response that stopped half-way would swallow the start of the next answer.
        assembler_.clear();
        lateAnswerArriving_ = false;
        sendRequest();
        return;
    }
    if (exchange_.state == State::InterfaceVersion) {
        // No answer counts as a refusal: the unit is asked for its data as before. An answer
        // to the last copy may still come while that request goes out.
        assembler_.clear();
        lateAnswerArriving_ = false;
        exchange_.rxRetries = 0;
        startTrepWalk(QString());
        sendRequest();
        return;
    }
    link_.close();
    if (inClosingExchange())
        closeAndSave(exchange_.state == State::TransferExit
                         ? QStringLiteral("No answer to Transfer Exit")
                         : QStringLiteral("No answer to Stop Communication"));
    else
        status_.writeStatus(QStringLiteral("Failed - Receive timeout"));
    exchange_.state = State::Idle;
    endSession();
}

void Session::onBytesReceived(const QByteArray& piece) {
    log_.hex(piece);
    const quint64 sent = requestsSent_;
    for (const QByteArray& response : assembler_.feed(piece)) {
        if (ended_) return;
        // Frames behind one that made a request go out came in before that request.
        if (requestsSent_ != sent || std::exchange(lateAnswerArriving_, false)) {
            ignoreAnswer(QStringLiteral("Late answer to an earlier request - ignored"));
            checkDropped(response);
            continue;
        }
        const qint32 id = messageIdOf(response);
        if (isProtocolAnswer(id) &&
            !answersRequest(response, exchange_.lastRequest, trepBeingRead_)) {
            ignoreAnswer(QStringLiteral("Answer to another request - ignored"));
            checkDropped(response);
            continue;
        }
        if (id != MessageId::ResponsePending) noteTaken(response);
        receiveTimer_.stop();
        exchange_.rxRetries = 0;
        if (!isProtocolAnswer(id)) showMessageBox(QStringLiteral("lResult - %1").arg(id));
        if (ended_) return; // told to end while the box was open
        log_.line(QString());
        response_ = response;
        onAnswer(id);
        log_.line(QString());
    }
}

void Session::linkLost(const QString& description) {
    receiveTimer_.stop();
    link_.close();
    // Pulled while a box of an ended session was open: its final status stands.
    if (exchange_.state == State::Idle) return;
    log_.line(QStringLiteral("Port lost - ") + description);
    if (inClosingExchange())
        closeAndSave(QString());
    else
        status_.writeStatus(QStringLiteral("Failed - ") + description);
    exchange_.state = State::Idle;
    endSession();
}

// The session is over: nothing more will be sent. The engine ends with it unless the
// settings keep its window open.
void Session::endSession() {
    receiveTimer_.stop();
    link_.close();
    if (DownloadSettings::closeDiagnosticsWindow && !ended_) {
        ended_ = true;
        if (endProgram) endProgram();
    }
}

// Data read whole is saved; anything less is reported as failed, so that whoever follows
// the status file sees an end. Nothing more is sent.
void Session::stop() {
    if (exchange_.state == State::Idle) return;
    ended_ = true;
    receiveTimer_.stop();
    link_.close();
    if (inClosingExchange())
        closeAndSave(QStringLiteral("Stopped during the closing exchange"));
    else
        status_.writeStatus(QStringLiteral("Failed - Download stopped"));
    exchange_.state = State::Idle;
}
