// The window's export and leak rate: against the simulator's steady rise while measuring, and on
// a loaded file; the files written are opened as a user's programs would open them.
#include "ChartTools.h"
#include "ExportDateDialog.h"
#include "FloatSpinEdit.h"
#include "LeakRateDialog.h"
#include "WindowFixture.h"

#include "ArchiveFormat.h"

#include <QDateEdit>
#include <QFile>
#include <QImage>
#include <QRadioButton>
#include <QSvgRenderer>

#include <fstream>

using namespace vg57;
using namespace vg57::test;

namespace {

class WindowExport : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        window->MeasureTimer.setInterval(60);
        window->chooseSaveFile = [this](const QString&, const QString&, const QString&) {
            return saveAs;
        };
    }
    QByteArray Read(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString saveAs;
};

TEST_F(WindowExport, leakRateOfTheSimulatorsSteadyRiseAndItsCsv) {
    window->LeakRateAction()->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("выделите на графике интервал")));

    sim->Command("pressure 100");
    sim->Command("leak 50");
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return window->Chart().Points().Size() >= 30; }, 10000));
    Press(TActionId::Stop);
    const double from = window->Chart().Points().X(0);
    const double to = window->Chart().Points().X(window->Chart().Points().Size() - 1);
    window->ChartTools()->SetSelection(from, to);

    TLeakResult seen;
    window->leakRateExec = [&](TLeakRateDialog& d) {
        seen = d.Result();
        EXPECT_TRUE(d.ShownText().contains(QStringLiteral("Па·л/с")));
        d.VolumeEdit()->setValue(25);
        return 0;
    };
    window->LeakRateAction()->trigger();
    ASSERT_GE(seen.readings, 25u) << messages.join('\n').toStdString();
    EXPECT_EQ(seen.unit, EPressureUnit::pa);
    EXPECT_NEAR(seen.slope, 50.0, 10.0); // two-digit readings on a wall clock
    EXPECT_TRUE(seen.resolved);
    EXPECT_EQ(seen.linear, true);
    EXPECT_EQ(seen.rise.verdict, ELeakVerdict::leak);
    EXPECT_DOUBLE_EQ(seen.volumeLitres, 1.0);
    // The volume is kept for the next time.
    window->leakRateExec = [&](TLeakRateDialog& d) {
        seen = d.Result();
        return 0;
    };
    window->ShowLeakRate(from, to);
    EXPECT_DOUBLE_EQ(seen.volumeLitres, 25.0);
    window->ShowLeakRate(from, from); // one reading
    EXPECT_TRUE(messages.last().contains(QStringLiteral("нужно не меньше 5")));

    saveAs = QString::fromStdString(home.Path() + "/run.csv");
    window->ExportCsvAction()->trigger();
    const QList<QByteArray> lines = Read(saveAs).trimmed().split('\n');
    ASSERT_GE(lines.size(), 26);
    EXPECT_EQ(lines[0], "time,pressure,unit\r");
    EXPECT_TRUE(
        lines[1].startsWith(QDate::currentDate().toString(Qt::ISODate).toLatin1()) ||
        lines[1].startsWith(QDate::currentDate().addDays(-1).toString(Qt::ISODate).toLatin1()));
    EXPECT_TRUE(lines[1].trimmed().endsWith(",Pa"));
}

TEST_F(WindowExport, loadedFileExportsWithTheAskedDateAndTheChartSavesInEachFormat) {
    const std::string archive = home.Path() + "/rise.txt";
    std::ofstream(archive) << "23:59:59.000 1.0E-3 0001\n00:00:00.500 1.1E-3 0001\n";
    window->chooseArchive = [&](const QString&) {
        return QStringList{QString::fromStdString(archive)};
    };
    Press(TActionId::LoadfromFile);
    ASSERT_TRUE(Until([&] { return !window->LoadRun(); }));
    window->exportDateExec = [](TExportDateDialog& d) {
        d.DateEdit()->setDate(QDate(2026, 12, 7));
        return int(QDialog::Accepted);
    };
    saveAs = QString::fromStdString(home.Path() + "/rise.csv");
    window->ExportCsvAction()->trigger();
    const QList<QByteArray> lines = Read(saveAs).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3) << messages.join('\n').toStdString();
    EXPECT_TRUE(lines[1].startsWith("2026-12-07T23:59:59.000"));
    EXPECT_TRUE(lines[2].startsWith("2026-12-08T00:00:00.500"));

    // A file named after its first reading gives its own date without asking.
    const std::string named = home.Path() + "/2026_11_30 23_59_59.txt";
    std::ofstream(named) << "23:59:59.000 1.0E-3 0002\n";
    window->chooseArchive = [&](const QString&) {
        return QStringList{QString::fromStdString(named)};
    };
    Press(TActionId::LoadfromFile);
    ASSERT_TRUE(Until([&] { return !window->LoadRun(); }));
    window->exportDateExec = [](TExportDateDialog&) { return int(QDialog::Rejected); };
    window->ExportCsvAction()->trigger();
    EXPECT_TRUE(Read(saveAs).contains("\n2026-11-30T23:59:59.000")) << Read(saveAs).constData();

    saveAs = QString::fromStdString(home.Path() + "/chart.png");
    window->SaveChartAction()->trigger();
    EXPECT_FALSE(QImage(saveAs).isNull());
    saveAs = QString::fromStdString(home.Path() + "/chart.pdf");
    window->SaveChartAction()->trigger();
    EXPECT_TRUE(Read(saveAs).startsWith("%PDF"));
    saveAs = QString::fromStdString(home.Path() + "/chart.svg");
    window->SaveChartAction()->trigger();
    EXPECT_TRUE(QSvgRenderer(saveAs).isValid());
    saveAs = QString::fromStdString(home.Path() + "/chart.bmp");
    window->SaveChartAction()->trigger();
    EXPECT_TRUE(messages.last().contains(QStringLiteral("Невозможно сохранить график")));
}

// Three gauges of a run loaded together: the export asks which readings go; all of them come in
// one file with their addresses, in time order with ties by address, converted into the chart's
// unit; the chosen gauge alone gives the very bytes its file alone gives, without a question.
TEST_F(WindowExport, everyGaugeInOneFileOrTheChosenOneAsBefore) {
    const auto write = [&](char address, const char* code, std::vector<int> seconds, double base) {
        const std::string path = home.Path() + "/2026_12_07 10_00_00 a" + address + ".txt";
        std::ofstream out(path, std::ios::binary);
        for (int s : seconds)
            out << FormatArchiveLine({2026, 12, 7, 10, 0, s}, base + s, code);
        return QString::fromStdString(path);
    };
    // Gauge 1 pauses from 3 s to 20 s (a break on the chart, no rows in the file); gauge 2 reads
    // in mbar; gauge 5 shares gauge 1's times.
    const QString a1 = write('1', "0001", {0, 1, 2, 3, 20, 21, 22, 23}, 100);
    const QString a2 = write('2', "0003", {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22}, 2);
    const QString a5 = write('5', "0001", {0, 1, 2, 3, 20, 21, 22, 23}, 500);
    QStringList files{a1};
    window->chooseArchive = [&](const QString&) { return files; };
    int asked = 0;
    bool all = false;
    window->exportDateExec = [&](TExportDateDialog& d) {
        ++asked;
        EXPECT_EQ(d.DateEdit(), nullptr) << "the names carry the date";
        EXPECT_TRUE(d.ChosenGaugeButton()->text().contains(QStringLiteral("Адрес 1")));
        EXPECT_TRUE(d.ChosenGaugeButton()->isChecked());
        d.AllGaugesButton()->setChecked(all);
        return int(QDialog::Accepted);
    };
    Press(TActionId::LoadfromFile);
    ASSERT_TRUE(Until([&] { return !window->LoadRun(); }));
    saveAs = QString::fromStdString(home.Path() + "/alone.csv");
    window->ExportCsvAction()->trigger();
    const QByteArray alone = Read(saveAs);
    EXPECT_EQ(asked, 0) << "one gauge: no question";

    files = {a5, a2, a1};
    Press(TActionId::LoadfromFile);
    ASSERT_TRUE(Until([&] { return !window->LoadRun(); }));
    ASSERT_EQ(window->Chart().GaugeCount(), 3u);
    saveAs = QString::fromStdString(home.Path() + "/chosen.csv");
    window->ExportCsvAction()->trigger();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Read(saveAs), alone);
    ASSERT_TRUE(alone.startsWith("time,pressure,unit\r\n"));

    all = true;
    saveAs = QString::fromStdString(home.Path() + "/all.csv");
    window->ExportCsvAction()->trigger();
    const QList<QByteArray> lines = Read(saveAs).split('\n');
    ASSERT_EQ(lines.size(), 30) << messages.join('\n').toStdString(); // header, 28, end
    EXPECT_EQ(lines[0], "time,pressure,unit,address\r");
    const char* expected[] = {",100,Pa,1\r", ",200,Pa,2\r", ",500,Pa,5\r", ",101,Pa,1\r",
                              ",501,Pa,5\r", ",102,Pa,1\r", ",400,Pa,2\r", ",502,Pa,5\r",
                              ",103,Pa,1\r", ",503,Pa,5\r", ",600,Pa,2\r"};
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_TRUE(lines[i + 1].endsWith(expected[i])) << i << ": " << lines[i + 1].constData();
    EXPECT_TRUE(lines[1].startsWith("2026-12-07T10:00:00.000"));
    EXPECT_TRUE(lines[28].startsWith("2026-12-07T10:00:23.000")) << lines[28].constData();
    EXPECT_TRUE(lines[28].endsWith(",523,Pa,5\r"));
}

} // namespace
