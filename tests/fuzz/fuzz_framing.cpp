// The receive path's first steps: received pieces assembled into responses by their length
// byte, and each response classified. Arbitrary bytes in arbitrary pieces must never crash,
// and the cut into pieces must not change what comes out.

#include "Framing.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

namespace {
bool IsKnownId(qint32 id) {
    return (id >= MessageId::StartCommunication && id <= MessageId::LastProtocolAnswer &&
            id != 4) ||
           id == MessageId::ChecksumWrong || id == MessageId::HeaderWrong ||
           id == MessageId::OtherResponseCode || id == MessageId::OtherSid;
}

void Check(bool condition) {
    if (!condition) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FrameAssembler inPieces;
    QList<QByteArray> frames;
    QByteArray everything;
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, 300);
        // Read in place from a buffer of exactly this size, so that a read past its end is
        // caught.
        const std::vector<char> bytes = input.ConsumeBytes<char>(length);
        const QByteArray piece = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
        everything += piece;
        frames += inPieces.feed(piece);
        Check(IsKnownId(lCheckMessage(piece)));
    }

    FrameAssembler atOnce;
    Check(atOnce.feed(everything) == frames);
    Check(atOnce.RxBuffer() == inPieces.RxBuffer());
    // What waits for more bytes is the start of a response that is not complete yet.
    const QByteArray& rest = inPieces.RxBuffer();
    Check(rest.isEmpty() ||
          (rest.startsWith(kFormatByte) && (rest.size() < 4 || rest.size() < quint8(rest[3]) + 5)));

    for (const QByteArray& frame : frames) {
        Check(frame.startsWith(kFormatByte) && frame.size() >= 5);
        Check(frame.size() == quint8(frame[3]) + 5);
        const qint32 id = lCheckMessage(frame);
        Check(IsKnownId(id));
        if (id != MessageId::ChecksumWrong)
            Check(Checksum(frame.chopped(1)) == quint8(frame.back()));
    }
    return 0;
}
