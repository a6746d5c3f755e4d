// The second-generation overview reader walks record arrays whose headers come from the
// vehicle unit: any bytes must give whole fields or none, never a read outside the data.
// Half of the inputs are taken as they are; the other half build arrays with small record
// sizes and counts (random headers claim far more than the data holds, and the walk would
// never get past the first array), cut off at a chosen length.
#include "FileNaming.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    QByteArray built("\x76\x21", 2);
    const bool raw = input.ConsumeBool();
    while (!raw && input.ConsumeBool()) {
        const char header[] = {input.ConsumeIntegral<char>(), 0, // type, then big-endian sizes
                               input.ConsumeIntegralInRange<char>(0, 24), 0,
                               input.ConsumeIntegralInRange<char>(0, 3)};
        built += QByteArray(header, 5) + QByteArray(header[2] * header[4], header[0]);
    }
    built = raw ? QByteArray::fromStdString(input.ConsumeRemainingBytesAsString())
                : built.left(input.ConsumeIntegralInRange<qsizetype>(0, built.size()));
    // Read in place from a buffer of exactly this size, so that a read past its end is caught.
    const std::vector<char> buffer(built.begin(), built.end());
    const SecondGenOverview result =
        readSecondGenOverview(QByteArray::fromRawData(buffer.data(), qsizetype(buffer.size())));
    const auto sizeIs = [](const QByteArray& field, qsizetype size) {
        return field.isEmpty() || field.size() == size;
    };
    if (!sizeIs(result.vin, 17) || !sizeIs(result.vrn, 13) || !sizeIs(result.currentTime, 4) ||
        !sizeIs(result.oldestTime, 4) || !sizeIs(result.latestTime, 4) ||
        result.complete != (result.latestTime.size() == 4))
        std::abort();
    return 0;
}
