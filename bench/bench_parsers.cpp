// The information-file parser and the listing judge on inputs from 10 to
// 100,000 lines; Google Benchmark fits the growth (expected: linear).
#include "device/dfulisting.h"
#include "firmware_info/versioninfo.h"

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

} // namespace

BENCHMARK(parseVersionInfo)->RangeMultiplier(10)->Range(10, 100000)->Complexity(benchmark::oN);
BENCHMARK(judgeListing)->RangeMultiplier(10)->Range(10, 100000)->Complexity(benchmark::oN);
BENCHMARK_MAIN();
