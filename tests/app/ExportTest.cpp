// The window's export and leak rate: against the simulator's steady rise while measuring, and on
// a loaded file; the files written are opened as a user's programs would open them.
#include "ChartTools.h"
#include "ExportDateDialog.h"
#include "FloatSpinEdit.h"
#include "LeakRateDialog.h"
#include "WindowFixture.h"

#include <QDateEdit>
#include <QFile>
#include <QImage>
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

} // namespace
