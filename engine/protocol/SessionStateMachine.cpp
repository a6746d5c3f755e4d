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

FailureTexts FailureTextsFor(qint32 state) {
    switch (state) {
    case 1:
        return {"No answer to Start Communication", "No answer to Start Communication"};
    case 2:
        return {"Can't start diagnostic session", "Start Diagnostic Session - invalid response"};
    case 3:
        return {"Can't set baud rate", "Set Baud Rate - invalid response"};
    case 5:
        return {"Request Upload gone wrong", "Request Upload - invalid response"};
    case 8:
        return {"Can't stop communication", "Stop Communication - invalid response"};
    default:
        return {"Can't get data", "Receive TREP data - invalid response"};
    }
}

QString RefusalText(qint32 lMessageID) {
    switch (lMessageID) {
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

void Session::lRespondToMessage(qint32 lMessageID) {
    bool sendAtEnd = true;
    if (lMessageID != MessageId::ResponsePending) pendingSince_.reset();
    switch (SessionState) {
    case 1:
        if (lMessageID == MessageId::StartCommunication) {
            SessionState = 2;
            repeats_ = 0;
        } else {
            repeatOrGiveUp(lMessageID);
        }
        break;
    case 2:
        if (lMessageID == MessageId::StartDiagnosticSession)
            // After a restart the port already has its speed: straight to Request Upload.
            SessionState = IntegrityErrors == 0 ? 3 : 5;
        else
            fail(lMessageID);
        break;
    case 3:
        if (lMessageID == MessageId::LinkControl) {
            SessionState = 4;
            repeats_ = 0;
        } else if (lMessageID == MessageId::ServiceNotSupported ||
                   lMessageID == MessageId::SubFunctionNotSupported ||
                   lMessageID == MessageId::RequestOutOfRange) {
            if (BaudCode > 1)
                --BaudCode; // try the next lower speed
            else
                repeatOrGiveUp(lMessageID);
        } else {
            fail(lMessageID);
        }
        break;
    case 4:
        break; // Transition Baud Rate is sent again, with the speed change
    case 5:
        if (lMessageID == MessageId::RequestUpload) {
            SessionState = interfaceVersionAsked_ ? 6 : kInterfaceVersionState;
            interfaceVersionAsked_ = true;
            SubMessageCounter = 1;
        } else {
            fail(lMessageID);
        }
        break;
    case 6:
    case 9:
        onTransferData(lMessageID, sendAtEnd);
        break;
    case kInterfaceVersionState:
        onInterfaceVersion(lMessageID, sendAtEnd);
        break;
    case 7:
        if (lMessageID == MessageId::TransferExit) {
            SessionState = 8;
        } else {
            const QString problem = IsProtocolAnswer(lMessageID)
                                        ? QStringLiteral("Exit refused!")
                                        : QStringLiteral("Transfer Exit - invalid response");
            closeAndSave(problem);
            ShowMessageBox(problem);
        }
        break;
    case 8:
        if (lMessageID == MessageId::StopCommunication) {
            closeAndSave(QString());
        } else {
            const FailureTexts texts = FailureTextsFor(SessionState);
            const QString problem =
                QString::fromLatin1(IsProtocolAnswer(lMessageID) ? texts.refused : texts.invalid);
            closeAndSave(problem);
            ShowMessageBox(problem);
        }
        break;
    default:
        break; // an answer after the session ended
    }

    // All data is in: saved before the closing exchange, which a kill or a power cut may
    // cut short. The final status still waits for its end.
    if (SessionState == 7 && !savedForClosing_) {
        savedForClosing_ = true;
        saveCollected();
    }
    if (SessionState == 0)
        endSession();
    else if (sendAtEnd && !ResendPending)
        SendRequest();
    ResendPending = false;
}

// The end of a session that read everything it could, however its closing exchange went:
// the data is saved, and the log says what went wrong at the end.
void Session::closeAndSave(const QString& problem) {
    if (!problem.isEmpty()) log_.sShowText(problem);
    SessionState = 0;
    if (!savedForClosing_) saveCollected();
    if (CurrentTrep == kTrepEnd) status_.WriteStatus(finalStatus());
    log_.sShowText(QStringLiteral("Download time - %1")
                       .arg(SessionStart.secsTo(QDateTime::currentDateTime())));
    // Ended early: the save step wrote no final status, the list was not finished.
    if (IntegrityLimitReached)
        status_.WriteStatus(fileLost_ ? QStringLiteral("Failed - file not saved")
                                      : QStringLiteral("Aborted"));
}

void Session::fail(qint32 lMessageID) {
    const FailureTexts texts = FailureTextsFor(SessionState);
    SessionState = 0;
    // The status first: the front end learns of the failure while the box is open.
    status_.WriteStatus(QStringLiteral("Failed"));
    ShowMessageBox(
        QString::fromLatin1(IsProtocolAnswer(lMessageID) ? texts.refused : texts.invalid));
}

void Session::repeatOrGiveUp(qint32 lMessageID) {
    if (++repeats_ > kMaxRepeats) fail(lMessageID);
}

void Session::onTransferData(qint32 lMessageID, bool& sendAtEnd) {
    switch (lMessageID) {
    case MessageId::TransferData:
        setRxInterval(RxTimeout());
        GetTREPData();
        IntegrityErrors = 0;
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
        onRefusal(lMessageID);
        break;
    default:
        fail(lMessageID);
        break;
    }
}

void Session::onIntegrityError() {
    log_.sShowText(QStringLiteral("Data Integrity Error - ") + SecondsToDateText(ActivityDay));
    ++IntegrityErrors;
    switch (IntegrityErrors) {
    case 1:
    case 3:
    case 5:
        // Start again from Start Communication and ask for the same item once more.
        dropPartialTrep();
        SessionState = 1;
        break;
    case 2:
    case 4:
        skipTrep();
        break;
    default:
        // Close the session in order and keep what has been read.
        IntegrityLimitReached = true;
        dropPartialTrep();
        SessionState = 7;
        break;
    }
}

void Session::onResponsePending() {
    // Counted over every copy of the request, as the unit may answer each of them this way.
    if (!pendingSince_ || pendingRequest_ != LastRequest) {
        pendingSince_ = link_.now();
        pendingRequest_ = LastRequest;
    }
    if (link_.now() - *pendingSince_ >= kPendingLimit) {
        log_.sShowText(QStringLiteral("Response pending too long"));
        status_.WriteStatus(QStringLiteral("Failed - Receive timeout"));
        SessionState = 0;
        return;
    }
    qint64 timeout = kPendingTimeoutMs;
    if ((CurrentTrep == 6 || CurrentTrep == 23) && SubMessageCounter == 1)
        timeout = kCardPendingTimeoutMs;
    else if (DownloadSettings::RXTIMEOUT > kShortRxTimeoutMs)
        timeout = kPendingFactor * DownloadSettings::RXTIMEOUT;
    setRxInterval(timeout);
    timerRx.start();
}

void Session::onRefusal(qint32 lMessageID) {
    setRxInterval(RxTimeout());
    if (CurrentTrep == TrepEntry::MakerCard) {
        // This unit reads the card with the common TREP: ask for it at once, whichever part
        // of the answer was refused, and keep nothing of that answer.
        log_.sShowText(RefusalText(lMessageID));
        dropPartialTrep();
        CurrentTrep = TrepEntry::Card;
        SessionState = 6;
        SubMessageCounter = 1;
        return;
    }
    if (lMessageID == MessageId::SubFunctionNotSupported && SubFunctionRetries < 2) {
        ResendPending = true;
        // A full second from the refusal, however late it came. What arrives meanwhile
        // answers an earlier copy, never the one about to go out.
        link_.wait(kResendPause);
        dropEarlierAnswers(link_.takeReceived());
        // A frame still unfinished after a whole second will never be finished.
        assembler_.clear();
        lateAnswerArriving_ = false;
        ResendLastMessage();
        ++SubFunctionRetries;
    } else if (lMessageID == MessageId::SubFunctionNotSupported &&
               Numbering == TrepNumbering::Gen1) {
        // Perhaps a second-generation unit: the same TREP in its numbering.
        ResendPending = true;
        Numbering = TrepNumbering::Gen2V1;
        SubFunctionRetries = 0;
        CurrentTrep = Renumbered(CurrentTrep, TrepNumbering::Gen1, Numbering);
        log_.sShowText(QStringLiteral("Second-generation version 1 TREPs"));
        SendRequest();
    } else {
        log_.sShowText(RefusalText(lMessageID));
        skipTrep();
    }
}

// A unit of version 2 or later answers 0x76 0x00, its generation and its version. Any other
// answer, or none, leaves the numbering as it was; it is never an integrity error or a skip.
void Session::onInterfaceVersion(qint32 lMessageID, bool& sendAtEnd) {
    if (lMessageID == MessageId::ResponsePending) {
        onResponsePending();
        sendAtEnd = false;
        return;
    }
    setRxInterval(RxTimeout());
    // Header, length, 0x76, the TRTP, generation, version, checksum.
    const bool answered = lMessageID == MessageId::TransferData && response_.size() >= 9 &&
                          quint8(response_[3]) >= 4 &&
                          quint8(response_[5]) == kInterfaceVersionTrep;
    if (!answered) {
        startTrepWalk(QString());
        return;
    }
    const quint8 generation = quint8(response_[6]);
    const quint8 version = quint8(response_[7]);
    if (generation == 2 && version >= 2) {
        Numbering = TrepNumbering::Gen2V2;
        CurrentTrep = Renumbered(CurrentTrep, TrepNumbering::Gen1, Numbering);
    }
    startTrepWalk(QStringLiteral("%1.%2").arg(generation).arg(version));
}

void Session::startTrepWalk(const QString& version) {
    log_.sShowText(QStringLiteral("VU download interface version ") +
                   (version.isEmpty() ? QStringLiteral("not given") : version) +
                   (Numbering == TrepNumbering::Gen2V2
                        ? QStringLiteral(" - version 2 TREPs")
                        : QStringLiteral(" - first-generation TREPs")));
    SessionState = 6;
    SubMessageCounter = 1;
}

void Session::skipTrep() {
    dropPartialTrep();
    SetNextTREP();
    ++status_.BlocksReceived;
    status_.WriteStatus(QString());
    if (CurrentTrep == kTrepEnd) {
        SessionState = 7;
    } else {
        SessionState = 6;
        SubMessageCounter = 1;
    }
}
