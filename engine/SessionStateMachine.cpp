// The session's state machine: what each answer of the vehicle unit leads to.

#include "Conversions.h"
#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "Session.h"
#include "StatusFile.h"

#include <QThread>

namespace {
using namespace std::chrono_literals;

constexpr auto kResendPause = 1000ms;
// The first answer of a card read through the unit can take this long.
constexpr int kCardPendingTimeoutMs = 32000;
constexpr int kPendingTimeoutMs = 5500;
constexpr int kPendingFactor = 5;
constexpr int kShortRxTimeoutMs = 1100;
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

} // namespace

void Session::lRespondToMessage(qint32 lMessageID) {
    bool sendAtEnd = true;
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
        } else if (lMessageID != MessageId::TransferData) {
            // Everything has been read by now: keep it, and let the save report the outcome.
            SessionState = 0;
            SaveFile();
            ShowMessageBox(IsProtocolAnswer(lMessageID)
                               ? QStringLiteral("Exit refused!")
                               : QStringLiteral("Transfer Exit - invalid response"));
        }
        break;
    case 8:
        if (lMessageID == MessageId::StopCommunication) {
            SessionState = 0;
            SaveFile();
            log_.sShowText(QStringLiteral("Download time - %1")
                               .arg(SessionStart.secsTo(QDateTime::currentDateTime())));
            if (IntegrityLimitReached) status_.WriteStatus(QStringLiteral("Aborted"));
        } else {
            fail(lMessageID);
        }
        break;
    default:
        break; // an answer after the session ended
    }

    if (SessionState == 0)
        endSession();
    else if (sendAtEnd && !ResendPending)
        SendRequest();
    ResendPending = false;
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
        timerRx.setInterval(RxTimeout());
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
    int timeout = kPendingTimeoutMs;
    if ((CurrentTrep == 6 || CurrentTrep == 23) && SubMessageCounter == 1)
        timeout = kCardPendingTimeoutMs;
    else if (DownloadSettings::RXTIMEOUT > kShortRxTimeoutMs)
        timeout = kPendingFactor * DownloadSettings::RXTIMEOUT;
    timerRx.setInterval(timeout);
    timerRx.start();
}

void Session::onRefusal(qint32 lMessageID) {
    timerRx.setInterval(RxTimeout());
    switch (lMessageID) {
    case MessageId::GeneralReject:
        log_.sShowText(QStringLiteral("General reject"));
        break;
    case MessageId::ServiceNotSupported:
        log_.sShowText(QStringLiteral("Service not supported"));
        break;
    case MessageId::SubFunctionNotSupported:
        if (SubFunctionRetries < 2) {
            ResendPending = true;
            link_.pause(kResendPause);
            ResendLastMessage();
            ++SubFunctionRetries;
        } else if (Numbering == TrepNumbering::Gen1) {
            // Perhaps a second-generation unit: the same TREP in its numbering.
            ResendPending = true;
            Numbering = TrepNumbering::Gen2V1;
            SubFunctionRetries = 0;
            CurrentTrep = Renumbered(CurrentTrep, TrepNumbering::Gen1, Numbering);
            log_.sShowText(QStringLiteral("Second-generation version 1 TREPs"));
            SendRequest();
        } else {
            log_.sShowText(QStringLiteral("Sub-function not supported"));
        }
        break;
    default:
        log_.sShowText(QStringLiteral("Data not available"));
        break;
    }
    if (CurrentTrep == 23)
        CurrentTrep = 6; // this unit reads the card with the common TREP
    else if (!ResendPending)
        skipTrep();
}

// A unit of version 2 or later answers 0x76 0x00, its generation and its version. Any other
// answer, or none, leaves the numbering as it was; it is never an integrity error or a skip.
void Session::onInterfaceVersion(qint32 lMessageID, bool& sendAtEnd) {
    if (lMessageID == MessageId::ResponsePending) {
        onResponsePending();
        sendAtEnd = false;
        return;
    }
    timerRx.setInterval(RxTimeout());
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
