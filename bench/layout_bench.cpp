// What the skin costs at start: deploying the nine files, reading the layout document, and the
// value parsers on their own. Runs on Qt's offscreen platform; needs no display and no network.

#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include "app/SkinDeployment.h"
#include "layout/BasicLayoutFrame.h"
#include "layout/LayoutReader.h"
#include "layout/LayoutValues.h"

namespace {

QByteArray EnglishDocument() {
  QFile file(SkinResourcePath(kLayoutEnglish, QString::fromUtf16(kXmlResource)));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Parsing the shipped English document from memory.
void BM_ReadLayoutDocument(benchmark::State& state) {
  const QByteArray document = EnglishDocument();
  for (auto _ : state) {
    DialogInfo record;
    benchmark::DoNotOptimize(ReadLayoutDocument(document, 201, QStringLiteral("Standard"),
                                                QStringLiteral("/base"), record));
  }
  state.SetBytesProcessed(state.iterations() * document.size());
}
BENCHMARK(BM_ReadLayoutDocument);

// The store's read as the dialog does it: from the deployed file.
void BM_StoreReadLayout(benchmark::State& state) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("WndLayoutInfo.xml"));
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(EnglishDocument());
  file.close();
  CBasicLayoutFrame store;
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.ReadLayout(path, 201, QStringLiteral("Standard")));
  }
}
BENCHMARK(BM_StoreReadLayout);

// Writing the layout document and the eight images, as every start does.
void BM_DeploySkinFiles(benchmark::State& state) {
  QTemporaryDir folder;
  qputenv("XDG_DATA_HOME", folder.path().toLocal8Bit());
  for (auto _ : state) {
    benchmark::DoNotOptimize(DeploySkinFiles());
  }
}
BENCHMARK(BM_DeploySkinFiles);

void BM_ParseValues(benchmark::State& state) {
  const QString rect = QStringLiteral("10,50,308,141");
  const QString color = QStringLiteral("244,245,247");
  const QString style = QStringLiteral("WS_CHILD|WS_VISIBLE|LVS_REPORT");
  for (auto _ : state) {
    LayoutRect parsedRect;
    std::uint32_t parsedColor = 0;
    ParseRect(rect, parsedRect);
    ParseColor(color, parsedColor);
    benchmark::DoNotOptimize(ParseStyle(style));
    benchmark::DoNotOptimize(parsedRect);
    benchmark::DoNotOptimize(parsedColor);
  }
}
BENCHMARK(BM_ParseValues);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
