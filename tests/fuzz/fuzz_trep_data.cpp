// The whole receive path of a session in the middle of its TREP data: a session put into
// state 6 or 9 with counters, sequence, generation, dates and settings from the input (error
// and retry counts grow from the pieces themselves), then fed pieces: raw bytes, or
// responses completed with header, length byte and checksum so that the fuzzer spends its
// time in the state machine rather than on checksums (any body, or Transfer Data, whose body
// of 255 bytes is a sub-message that more parts follow). The engine must never crash.
#include "../ScriptedLink.h"
#include "Conversions.h"
#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "NationCodes.h"
#include "Session.h"
#include "StatusFile.h"

#include <QtCore>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

static QTemporaryDir* folder = nullptr;

static QByteArray nextPiece(FuzzedDataProvider& input) {
    if (input.ConsumeBool()) return QByteArray::fromStdString(input.ConsumeRandomLengthString(300));
    QByteArray body = input.ConsumeBool() ? "\x76" : ""; // Transfer Data, or any response
    const int size = input.ConsumeBool() ? 255 : input.ConsumeIntegralInRange(1, 254);
    body += QByteArray::fromStdString(input.ConsumeBytesAsString(size_t(size - body.size())));
    return responseFrame(body +
                         QByteArray(size - body.size(), char(input.ConsumeIntegral<quint8>())));
}

// Puts a session half-way through a walk, as the fuzz input chooses.
struct SessionFuzzSetup {
    static void choose(FuzzedDataProvider& input, Session& session) {
        DownloadSettings::fileNameStyle =
            input.PickValueInArray<QString>({"EU", "ES", "LD", "none"});
        DownloadSettings::downloadType = QChar(input.PickValueInArray({'A', 'L', 'C', 'Z'}));
        auto& walk = session.walk_;
        walk.plan.treps.fill(kTrepEnd);
        for (int i = input.ConsumeIntegralInRange(0, kTrepSequenceSize - 1) - 1; i >= 0; --i)
            walk.plan.treps[i] = input.ConsumeIntegral<quint8>();
        walk.plan.days = input.ConsumeIntegralInRange(0, 400);
        session.exchange_.state = input.ConsumeBool() ? Session::State::TransferData
                                                      : Session::State::AcknowledgeSubMessage;
        walk.subMessageCounter = input.ConsumeIntegralInRange(1, 0x10000);
        walk.index = input.ConsumeIntegralInRange<qint16>(0, kTrepSequenceSize - 1);
        walk.numbering = TrepNumbering(input.ConsumeIntegralInRange(0, 2));
        walk.currentTrep = input.ConsumeIntegral<quint8>();
        walk.baseTrep = entryOf(walk.currentTrep, walk.numbering);
        walk.activityDay = input.ConsumeIntegral<qint32>();
        walk.oldestDate = input.ConsumeIntegral<qint32>();
        walk.latestDate = input.ConsumeIntegral<qint32>();
        session.unit_.makerCode = input.ConsumeBool() ? 0xA1 : input.ConsumeIntegral<quint8>();
        session.unit_.technicalData = QByteArray(input.ConsumeIntegralInRange(0, 300), '\x55');
    }
    static bool sane(const Session& session) {
        const auto state = qint32(session.exchange_.state);
        return state >= 0 && state <= qint32(Session::State::InterfaceVersion) &&
               session.walk_.index >= 0;
    }
};

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QTemporaryDir temporary("/dev/shm/vantrel-fuzz-XXXXXX");
    folder = &temporary;
    // Nothing the session saves may reach the user's own folders.
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
        qputenv(name, QFile::encodeName(folder->filePath(name)));
    static QCoreApplication application(*argc, *argv);
    setDateLimits();
    fillNationAlpha();
    setMessageBoxHandler([](const QString&, const QString&) {});
    DownloadSettings::vuDataPath = folder->filePath("vu/");
    DownloadSettings::cardDataPath = folder->filePath("card/");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    MessageLog log; // no file: the message area only
    StatusFile status(log);
    status.setFilePath(folder->filePath("VNPCstatus.txt"));
    ScriptedLink link; // takes every byte and never answers: the input is the only answer
    link.open(0);
    {
        Session session(log, status, link);
        SessionFuzzSetup::choose(input, session);
        for (int piece = 0; piece < 48 && input.remaining_bytes() > 0; ++piece) {
            session.onBytesReceived(nextPiece(input));
            if (!SessionFuzzSetup::sane(session)) std::abort();
        }
    }
    for (const char* saved : {"vu", "card", "HOME", "XDG_DATA_HOME"})
        QDir(folder->filePath(saved)).removeRecursively();
    return 0;
}
