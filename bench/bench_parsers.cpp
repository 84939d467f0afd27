// The information-file parser and the listing judge on inputs from 10 to
// 100,000 lines; Google Benchmark fits the growth (expected: linear). Also
// what checking a firmware's signature costs at 170 KB and at 16 MiB.
#include "device/dfulisting.h"
#include "integrity/firmwaresignature.h"
#include "integrity/sha256.h"
#include "server/versioninfo.h"

#include <QByteArray>
#include <QString>
#include <benchmark/benchmark.h>

namespace {

QByteArray versionFile(int lines)
{
    QByteArray file("[Device]=NV38K\r\n[Version]=1.6\r\n");
    for (int i = 2; i < lines; ++i)
        file += "[Desc]=note " + QByteArray::number(i) + " of the update\r\n";
    return file;
}

// The keyboard's line comes last, after `lines` lines of other devices.
QString listing(int lines)
{
    QString text = QStringLiteral("dfu-util 0.11\n\n");
    for (int i = 1; i < lines; ++i)
        text += QStringLiteral("Found DFU: [0483:df11] ver=2200, devnum=%1, cfg=1, intf=0, "
                               "path=\"1-4\", alt=1, name=\"@Option Bytes  /0x1FFFF800/01*016 e\", "
                               "serial=\"FFFFFFFEFFFF\"\n")
                    .arg(i);
    return text + DfuListing::deviceText()
           + QStringLiteral(" ver=0200, devnum=7, cfg=1, intf=0, path=\"1-2\", alt=0, ")
           + DfuListing::nameAndSerialText() + QLatin1Char('\n');
}

void parseVersionInfo(benchmark::State &state)
{
    const QByteArray file = versionFile(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(parseVersionInfo(file));
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * file.size());
}

void judgeListing(benchmark::State &state)
{
    const QString text = listing(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(DfuListing::judge(text));
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}

// Hashing the firmware, as the window does while it arrives, and verifying
// the signature over the statement; the key is made once, outside the timing.
void verifySignature(benchmark::State &state)
{
    static const FirmwareSignature::SigningKey key = *FirmwareSignature::generateSigningKey();
    const QByteArray firmware(int(state.range(0)), 'f');
    const auto statementOf = [](const QByteArray &bytes) {
        return FirmwareSignature::statement(QStringLiteral("NV38K"), QStringLiteral("1.6"),
                                            bytes.size(), *Sha256::hash(bytes));
    };
    const QByteArray signature = *FirmwareSignature::sign(statementOf(firmware), key);
    for (auto _ : state) {
        if (!FirmwareSignature::verify(statementOf(firmware), signature, key.publicKeyPem))
            state.SkipWithError("the signature does not verify");
    }
    state.SetBytesProcessed(state.iterations() * firmware.size());
}

} // namespace

BENCHMARK(verifySignature)->Arg(170 * 1024)->Arg(16 * 1024 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(parseVersionInfo)->RangeMultiplier(10)->Range(10, 100000)->Complexity(benchmark::oN);
BENCHMARK(judgeListing)->RangeMultiplier(10)->Range(10, 100000)->Complexity(benchmark::oN);
BENCHMARK_MAIN();
