// The second-generation overview reader walks record arrays whose headers come from the
// vehicle unit: any bytes must give whole fields or none, never a read outside the data.
// Half of the inputs are taken as they are; the other half build arrays with small record
// sizes and counts (most random headers claim far more than the data holds, and the walk
// would never get past the first array), cut off at a chosen length.

#include "FileNaming.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

namespace {
void AppendWord(QByteArray& bytes, quint16 word) {
    bytes += char(word >> 8);
    bytes += char(word & 0xFF);
}

quint16 SmallOrAny(FuzzedDataProvider& input, quint16 small) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange<quint16>(0, small)
                               : input.ConsumeIntegral<quint16>();
}

QByteArray BuildOverview(FuzzedDataProvider& input) {
    QByteArray overview("\x76\x21", 2);
    const int arrays = input.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < arrays; ++i) {
        overview += char(input.ConsumeIntegral<quint8>()); // record type
        const quint16 size = SmallOrAny(input, 24);
        const quint16 count = SmallOrAny(input, 3);
        AppendWord(overview, size);
        AppendWord(overview, count);
        const qsizetype records = std::min<qsizetype>(qsizetype(size) * count, 4096);
        overview += QByteArray(records, char(input.ConsumeIntegral<quint8>()));
    }
    if (input.ConsumeBool())
        overview.truncate(input.ConsumeIntegralInRange<qsizetype>(0, overview.size()));
    return overview;
}

bool SizeIs(const QByteArray& field, qsizetype expected) {
    return field.isEmpty() || field.size() == expected;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const QByteArray built = input.ConsumeBool()
                                 ? BuildOverview(input)
                                 : QByteArray::fromStdString(input.ConsumeRemainingBytesAsString());
    // Read in place from a buffer of exactly this size, so that a read past its end is caught.
    const std::vector<char> buffer(built.begin(), built.end());
    const QByteArray overview = QByteArray::fromRawData(buffer.data(), qsizetype(buffer.size()));

    const SecondGenOverview result = ReadSecondGenOverview(overview);
    if (!SizeIs(result.Vin, 17) || !SizeIs(result.Vrn, 13) || !SizeIs(result.CurrentTime, 4) ||
        !SizeIs(result.OldestTime, 4) || !SizeIs(result.LatestTime, 4))
        std::abort();
    if (result.complete != (result.LatestTime.size() == 4)) std::abort();
    return 0;
}
