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

static QByteArray NextPiece(FuzzedDataProvider& input) {
    if (input.ConsumeBool()) return QByteArray::fromStdString(input.ConsumeRandomLengthString(300));
    QByteArray body = input.ConsumeBool() ? "\x76" : ""; // Transfer Data, or any response
    const int size = input.ConsumeBool() ? 255 : input.ConsumeIntegralInRange(1, 254);
    body += QByteArray::fromStdString(input.ConsumeBytesAsString(size_t(size - body.size())));
    return Response(body + QByteArray(size - body.size(), char(input.ConsumeIntegral<quint8>())));
}

static void ChooseSession(FuzzedDataProvider& input, Session& session) {
    DownloadSettings::FileNameStyle = input.PickValueInArray<QString>({"EU", "ES", "LD", "none"});
    DownloadSettings::DownloadType = QChar(input.PickValueInArray({'A', 'L', 'C', 'Z'}));
    session.trepSequence.fill(kTrepEnd);
    for (int i = input.ConsumeIntegralInRange(0, kTrepSequenceSize - 1) - 1; i >= 0; --i)
        session.trepSequence[i] = input.ConsumeIntegral<quint8>();
    session.SessionDays = input.ConsumeIntegralInRange(0, 400);
    session.SessionState = input.ConsumeBool() ? 6 : 9;
    session.SubMessageCounter = input.ConsumeIntegralInRange(1, 0x10000);
    session.TrepIndex = input.ConsumeIntegralInRange<qint16>(0, kTrepSequenceSize - 1);
    session.Numbering = TrepNumbering(input.ConsumeIntegralInRange(0, 2));
    session.CurrentTrep = input.ConsumeIntegral<quint8>();
    session.BaseTrep = EntryOf(session.CurrentTrep, session.Numbering);
    session.ActivityDay = input.ConsumeIntegral<qint32>();
    session.OldestDate = input.ConsumeIntegral<qint32>();
    session.LatestDate = input.ConsumeIntegral<qint32>();
    session.VuMakerCode = input.ConsumeBool() ? 0xA1 : input.ConsumeIntegral<quint8>();
    session.Trep5Data = QByteArray(input.ConsumeIntegralInRange(0, 300), '\x55');
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QTemporaryDir temporary("/dev/shm/vantrel-fuzz-XXXXXX");
    folder = &temporary;
    // Nothing the session saves may reach the user's own folders.
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
        qputenv(name, QFile::encodeName(folder->filePath(name)));
    static QCoreApplication application(*argc, *argv);
    SetDateLimits();
    FillNationAlpha();
    SetMessageBoxHandler([](const QString&, const QString&) {});
    DownloadSettings::VUDataPath = folder->filePath("vu/");
    DownloadSettings::CardDataPath = folder->filePath("card/");
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
        ChooseSession(input, session);
        for (int piece = 0; piece < 48 && input.remaining_bytes() > 0; ++piece) {
            session.Comm1_OnComm(NextPiece(input));
            if (session.SessionState < 0 ||
                session.SessionState > Session::kInterfaceVersionState || session.TrepIndex < 0)
                std::abort();
        }
    }
    for (const char* saved : {"vu", "card", "HOME", "XDG_DATA_HOME"})
        QDir(folder->filePath(saved)).removeRecursively();
    return 0;
}
