// The second-generation overview reader walks record arrays whose headers come from the
// vehicle unit: any bytes must give whole fields or none, never a read outside the data.
// Half of the inputs are taken as they are; the other half build arrays with mostly small
// record sizes and counts (random headers claim far more than the data holds, and the walk
// would never get past the first array), cut off at a chosen length.
#include "FileNaming.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

static QByteArray BuildOverview(FuzzedDataProvider& input) {
    QByteArray overview("\x76\x21", 2);
    const auto word = [&](quint16 small) {
        const quint16 value = input.ConsumeBool() ? input.ConsumeIntegralInRange<quint16>(0, small)
                                                  : input.ConsumeIntegral<quint16>();
        overview += char(value >> 8);
        overview += char(value & 0xFF);
        return qsizetype(value);
    };
    for (int arrays = input.ConsumeIntegralInRange(0, 8); arrays > 0; --arrays) {
        overview += char(input.ConsumeIntegral<quint8>()); // record type
        const qsizetype recordSize = word(24);
        const qsizetype records = std::min<qsizetype>(recordSize * word(3), 4096);
        overview += QByteArray(records, char(input.ConsumeIntegral<quint8>()));
    }
    if (input.ConsumeBool())
        overview.truncate(input.ConsumeIntegralInRange<qsizetype>(0, overview.size()));
    return overview;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const QByteArray built = input.ConsumeBool()
                                 ? BuildOverview(input)
                                 : QByteArray::fromStdString(input.ConsumeRemainingBytesAsString());
    // Read in place from a buffer of exactly this size, so that a read past its end is caught.
    const std::vector<char> buffer(built.begin(), built.end());
    const SecondGenOverview result =
        ReadSecondGenOverview(QByteArray::fromRawData(buffer.data(), qsizetype(buffer.size())));
    const auto sizeIs = [](const QByteArray& field, qsizetype size) {
        return field.isEmpty() || field.size() == size;
    };
    if (!sizeIs(result.Vin, 17) || !sizeIs(result.Vrn, 13) || !sizeIs(result.CurrentTime, 4) ||
        !sizeIs(result.OldestTime, 4) || !sizeIs(result.LatestTime, 4) ||
        result.complete != (result.LatestTime.size() == 4))
        std::abort();
    return 0;
}
