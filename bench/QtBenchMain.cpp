// bench/QtBenchMain.cpp
// The main() of the benchmarks that need a QApplication (offscreen).
#include <benchmark/benchmark.h>

#include <QApplication>

int main(int argc, char** argv) {
    // Offscreen unless told otherwise (bench/with_accessibility_bus.sh asks
    // for xcb, where the accessibility bridge lives).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
