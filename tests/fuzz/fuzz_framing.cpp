// Received pieces assembled into responses by their length byte, and each response
// classified: arbitrary bytes in arbitrary pieces never crash, and the cut into pieces does
// not change what comes out.
#include "Framing.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

static bool isKnownId(qint32 id) {
    namespace M = MessageId;
    return (id >= M::StartCommunication && id <= M::LastProtocolAnswer && id != 4) ||
           QList<qint32>{M::ChecksumWrong, M::HeaderWrong, M::OtherResponseCode, M::OtherSid}
               .contains(id);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto Check = [](bool condition) {
        if (!condition) std::abort();
    };
    FuzzedDataProvider input(data, size);
    FrameAssembler inPieces, atOnce;
    QList<QByteArray> frames;
    QByteArray everything;
    while (input.remaining_bytes() > 0) {
        // Read in place from a buffer of exactly this size, so that a read past its end is
        // caught.
        const auto bytes = input.ConsumeBytes<char>(input.ConsumeIntegralInRange<size_t>(0, 300));
        const QByteArray piece = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
        everything += piece;
        frames += inPieces.feed(piece);
        Check(isKnownId(messageIdOf(piece)));
    }
    Check(atOnce.feed(everything) == frames && atOnce.rxBuffer() == inPieces.rxBuffer());
    // What waits for more bytes is the start of a response that is not complete yet.
    const QByteArray& rest = inPieces.rxBuffer();
    Check(rest.isEmpty() ||
          (rest.startsWith(kFormatByte) && (rest.size() < 4 || rest.size() < quint8(rest[3]) + 5)));
    for (const QByteArray& frame : frames) {
        Check(frame.startsWith(kFormatByte) && frame.size() >= 5 &&
              frame.size() == quint8(frame[3]) + 5);
        const qint32 id = messageIdOf(frame);
        Check(isKnownId(id) && (id == MessageId::ChecksumWrong ||
                                checksum(frame.chopped(1)) == quint8(frame.back())));
    }
    return 0;
}
