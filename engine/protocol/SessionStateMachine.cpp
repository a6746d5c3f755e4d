// The session's state machine: what each answer of the vehicle unit leads to.

#include "Conversions.h"
#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "Session.h"
#include "StatusFile.h"

namespace {
using namespace std::chrono_literals;

constexpr auto kResendPause = 1000ms;
// The first answer of a card read through the unit can take this long.
constexpr qint64 kCardPendingTimeoutMs = 32000;
constexpr qint64 kPendingTimeoutMs = 5500;
constexpr qint64 kPendingFactor = 5;
constexpr int kShortRxTimeoutMs = 1100;
// A unit may keep an answer pending, each time for up to P3 max (5 s); the regulation sets no
// total. A minute in all for one request: nearly twice the 32 s the first answer of a card is
// given, and twelve such extensions.
constexpr auto kPendingLimit = 60s;
// A unit that keeps answering Start Communication wrongly, or keeps refusing 9600 baud,
// is asked this often before the session gives up.
constexpr int kMaxRepeats = 10;

struct FailureTexts {
    const char* refused;
    const char* invalid;
};

FailureTexts failureTextsFor(Session::State state) {
    using State = Session::State;
    switch (state) {
    case State::StartCommunication:
        return {"No answer to Start Communication", "No answer to Start Communication"};
    case State::StartDiagnosticSession:
        return {"Can't start diagnostic session", "Start Diagnostic Session - invalid response"};
    case State::VerifyBaudRate:
        return {"Can't set baud rate", "Set Baud Rate - invalid response"};
    case State::RequestUpload:
        return {"Request Upload gone wrong", "Request Upload - invalid response"};
    case State::StopCommunication:
        return {"Can't stop communication", "Stop Communication - invalid response"};
    default:
        return {"Can't get data", "Receive TREP data - invalid response"};
    }
}

QString refusalText(qint32 messageId) {
    switch (messageId) {
    case MessageId::GeneralReject:
        return QStringLiteral("General reject");
    case MessageId::ServiceNotSupported:
        return QStringLiteral("Service not supported");
    case MessageId::SubFunctionNotSupported:
        return QStringLiteral("Sub-function not supported");
    default:
        return QStringLiteral("Data not available");
    }
}

} // namespace

void Session::onAnswer(qint32 messageId) {
    bool sendAtEnd = true;
    if (messageId != MessageId::ResponsePending) pendingSince_.reset();
    switch (exchange_.state) {
    case State::StartCommunication:
        if (messageId == MessageId::StartCommunication) {
            exchange_.state = State::StartDiagnosticSession;
            repeats_ = 0;
        } else {
            repeatOrGiveUp(messageId);
        }
        break;
    case State::StartDiagnosticSession:
        if (messageId == MessageId::StartDiagnosticSession)
            // After a restart the port already has its speed: straight to Request Upload.
            exchange_.state =
                exchange_.integrityErrors == 0 ? State::VerifyBaudRate : State::RequestUpload;
        else
            fail(messageId);
        break;
    case State::VerifyBaudRate:
        if (messageId == MessageId::LinkControl) {
            exchange_.state = State::TransitionBaudRate;
            repeats_ = 0;
        } else if (messageId == MessageId::ServiceNotSupported ||
                   messageId == MessageId::SubFunctionNotSupported ||
                   messageId == MessageId::RequestOutOfRange) {
            if (exchange_.baudCode > 1)
                --exchange_.baudCode; // try the next lower speed
            else
                repeatOrGiveUp(messageId);
        } else {
            fail(messageId);
        }
        break;
    case State::TransitionBaudRate:
        break; // Transition Baud Rate is sent again, with the speed change
    case State::RequestUpload:
        if (messageId == MessageId::RequestUpload) {
            exchange_.state =
                interfaceVersionAsked_ ? State::TransferData : State::InterfaceVersion;
            interfaceVersionAsked_ = true;
            walk_.subMessageCounter = 1;
        } else {
            fail(messageId);
        }
        break;
    case State::TransferData:
    case State::AcknowledgeSubMessage:
        onTransferData(messageId, sendAtEnd);
        break;
    case State::InterfaceVersion:
        onInterfaceVersion(messageId, sendAtEnd);
        break;
    case State::TransferExit:
        if (messageId == MessageId::TransferExit) {
            exchange_.state = State::StopCommunication;
        } else {
            const QString problem = isProtocolAnswer(messageId)
                                        ? QStringLiteral("Exit refused!")
                                        : QStringLiteral("Transfer Exit - invalid response");
            closeAndSave(problem);
            showMessageBox(problem);
        }
        break;
    case State::StopCommunication:
        if (messageId == MessageId::StopCommunication) {
            closeAndSave(QString());
        } else {
            const FailureTexts texts = failureTextsFor(exchange_.state);
            const QString problem =
                QString::fromLatin1(isProtocolAnswer(messageId) ? texts.refused : texts.invalid);
            closeAndSave(problem);
            showMessageBox(problem);
        }
        break;
    default:
        break; // an answer after the session ended
    }

    // All data is in: saved before the closing exchange, which a kill or a power cut may
    // cut short. The final status still waits for its end.
    if (exchange_.state == State::TransferExit && !savedForClosing_) {
        savedForClosing_ = true;
        saveCollected();
    }
    if (exchange_.state == State::Idle)
        endSession();
    else if (sendAtEnd && !exchange_.resendPending)
        sendRequest();
    exchange_.resendPending = false;
}

// The end of a session that read everything it could, however its closing exchange went:
// the data is saved, and the log says what went wrong at the end.
void Session::closeAndSave(const QString& problem) {
    if (!problem.isEmpty()) log_.line(problem);
    exchange_.state = State::Idle;
    if (!savedForClosing_) saveCollected();
    if (walk_.currentTrep == kTrepEnd) status_.writeStatus(finalStatus());
    log_.line(QStringLiteral("Download time - %1")
                  .arg(exchange_.startTime.secsTo(QDateTime::currentDateTime())));
    // Ended early: the save step wrote no final status, the list was not finished.
    if (exchange_.integrityLimitReached)
        status_.writeStatus(files_.lost() ? QStringLiteral("Failed - file not saved")
                                          : QStringLiteral("Aborted"));
}

void Session::fail(qint32 messageId) {
    const FailureTexts texts = failureTextsFor(exchange_.state);
    exchange_.state = State::Idle;
    // The status first: the front end learns of the failure while the box is open.
    status_.writeStatus(QStringLiteral("Failed"));
    showMessageBox(
        QString::fromLatin1(isProtocolAnswer(messageId) ? texts.refused : texts.invalid));
}

void Session::repeatOrGiveUp(qint32 messageId) {
    if (++repeats_ > kMaxRepeats) fail(messageId);
}

void Session::onTransferData(qint32 messageId, bool& sendAtEnd) {
    switch (messageId) {
    case MessageId::TransferData:
        setRxInterval(rxTimeout());
        takeTrepData();
        exchange_.integrityErrors = 0;
        break;
    case MessageId::ConditionsNotCorrect:
        onIntegrityError();
        break;
    case MessageId::ResponsePending:
        onResponsePending();
        sendAtEnd = false;
        break;
    case MessageId::GeneralReject:
    case MessageId::ServiceNotSupported:
    case MessageId::SubFunctionNotSupported:
    case MessageId::DataNotAvailable:
        onRefusal(messageId);
        break;
    default:
        fail(messageId);
        break;
    }
}

void Session::onIntegrityError() {
    log_.line(QStringLiteral("Data Integrity Error - ") + secondsToDateText(walk_.activityDay));
    ++exchange_.integrityErrors;
    switch (exchange_.integrityErrors) {
    case 1:
    case 3:
    case 5:
        // Start again from Start Communication and ask for the same item once more.
        dropPartialTrep();
        exchange_.state = State::StartCommunication;
        break;
    case 2:
    case 4:
        skipTrep();
        break;
    default:
        // Close the session in order and keep what has been read.
        exchange_.integrityLimitReached = true;
        dropPartialTrep();
        exchange_.state = State::TransferExit;
        break;
    }
}

void Session::onResponsePending() {
    // Counted over every copy of the request, as the unit may answer each of them this way.
    if (!pendingSince_ || pendingRequest_ != exchange_.lastRequest) {
        pendingSince_ = link_.now();
        pendingRequest_ = exchange_.lastRequest;
    }
    if (link_.now() - *pendingSince_ >= kPendingLimit) {
        log_.line(QStringLiteral("Response pending too long"));
        status_.writeStatus(QStringLiteral("Failed - Receive timeout"));
        exchange_.state = State::Idle;
        return;
    }
    qint64 timeout = kPendingTimeoutMs;
    if ((walk_.currentTrep == 6 || walk_.currentTrep == 23) && walk_.subMessageCounter == 1)
        timeout = kCardPendingTimeoutMs;
    else if (DownloadSettings::rxTimeout > kShortRxTimeoutMs)
        timeout = kPendingFactor * DownloadSettings::rxTimeout;
    setRxInterval(timeout);
    receiveTimer_.start();
}

void Session::onRefusal(qint32 messageId) {
    setRxInterval(rxTimeout());
    if (walk_.currentTrep == TrepEntry::MakerCard) {
        // This unit reads the card with the common TREP: ask for it at once, whichever part
        // of the answer was refused, and keep nothing of that answer.
        log_.line(refusalText(messageId));
        dropPartialTrep();
        walk_.currentTrep = TrepEntry::Card;
        exchange_.state = State::TransferData;
        walk_.subMessageCounter = 1;
        return;
    }
    if (messageId == MessageId::SubFunctionNotSupported && exchange_.subFunctionRetries < 2) {
        exchange_.resendPending = true;
        // A full second from the refusal, however late it came. What arrives meanwhile
        // answers an earlier copy, never the one about to go out.
        link_.wait(kResendPause);
        dropEarlierAnswers(link_.takeReceived());
        // A frame still unfinished after a whole second will never be finished.
        assembler_.clear();
        lateAnswerArriving_ = false;
        resendLastRequest();
        ++exchange_.subFunctionRetries;
    } else if (messageId == MessageId::SubFunctionNotSupported &&
               walk_.numbering == TrepNumbering::Gen1) {
        // Perhaps a second-generation unit: the same TREP in its numbering.
        exchange_.resendPending = true;
        walk_.numbering = TrepNumbering::Gen2V1;
        exchange_.subFunctionRetries = 0;
        walk_.currentTrep = renumbered(walk_.currentTrep, TrepNumbering::Gen1, walk_.numbering);
        log_.line(QStringLiteral("Second-generation version 1 TREPs"));
        sendRequest();
    } else {
        log_.line(refusalText(messageId));
        skipTrep();
    }
}

// A unit of version 2 or later answers 0x76 0x00, its generation and its version. Any other
// answer, or none, leaves the numbering as it was; it is never an integrity error or a skip.
void Session::onInterfaceVersion(qint32 messageId, bool& sendAtEnd) {
    if (messageId == MessageId::ResponsePending) {
        onResponsePending();
        sendAtEnd = false;
        return;
    }
    setRxInterval(rxTimeout());
    // Header, length, 0x76, the TRTP, generation, version, checksum.
    const bool answered = messageId == MessageId::TransferData && response_.size() >= 9 &&
                          quint8(response_[3]) >= 4 &&
                          quint8(response_[5]) == kInterfaceVersionTrep;
    if (!answered) {
        startTrepWalk(QString());
        return;
    }
    const quint8 generation = quint8(response_[6]);
    const quint8 version = quint8(response_[7]);
    if (generation == 2 && version >= 2) {
        walk_.numbering = TrepNumbering::Gen2V2;
        walk_.currentTrep = renumbered(walk_.currentTrep, TrepNumbering::Gen1, walk_.numbering);
    }
    startTrepWalk(QStringLiteral("%1.%2").arg(generation).arg(version));
}

void Session::startTrepWalk(const QString& version) {
    log_.line(QStringLiteral("VU download interface version ") +
              (version.isEmpty() ? QStringLiteral("not given") : version) +
              (walk_.numbering == TrepNumbering::Gen2V2
                   ? QStringLiteral(" - version 2 TREPs")
                   : QStringLiteral(" - first-generation TREPs")));
    exchange_.state = State::TransferData;
    walk_.subMessageCounter = 1;
}

void Session::skipTrep() {
    dropPartialTrep();
    setNextTrep();
    ++status_.blocksReceived;
    status_.writeStatus(QString());
    if (walk_.currentTrep == kTrepEnd) {
        exchange_.state = State::TransferExit;
    } else {
        exchange_.state = State::TransferData;
        walk_.subMessageCounter = 1;
    }
}
