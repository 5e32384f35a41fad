// The window's export and analysis: the chart saved as a picture, the readings of the visible
// time range as CSV, and the leak rate over an interval. Readings are the chart's own, in its
// one display unit: only what the gauge said, never a demonstration value.
#include "MainForm.h"

#include "ArchiveDate.h"
#include "ArchiveFormat.h"
#include "ArchiveLoader.h"
#include "ChartArea.h"
#include "ChartExport.h"
#include "ChartTools.h"
#include "CivilTime.h"
#include "CsvExport.h"
#include "DateTime.h"
#include "ExportDateDialog.h"
#include "LeakRateDialog.h"
#include "PlaceBeside.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>
#include <QStatusBar>

#include <algorithm>
#include <limits>
#include <optional>

namespace vg57 {

namespace {

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

struct TKeptReadings {
    std::vector<double> times, pressures; // date-times, in the chart's display unit
    std::vector<EPressureUnit> units;
    std::string file;     // what exports are named after: the loaded file or this run's archive
    bool undated = false; // times of day of files whose names carry no date
};

// Gauge k's readings as the chart shows them: converted into its one unit, and never a
// demonstration value, which the chart keeps apart.
TKeptReadings KeptReadings(const TChartModel& chart, const std::string& loaded,
                           const TArchiveWriter& archive, std::size_t k) {
    TKeptReadings kept;
    kept.file = chart.LoadedView ? loaded : archive.Path();
    const std::vector<TChartReading> shown = chart.GaugeReadings(
        k, -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity());
    kept.times.reserve(shown.size());
    kept.pressures.reserve(shown.size());
    for (const TChartReading& r : shown) {
        kept.times.push_back(r.time);
        kept.pressures.push_back(r.pressure);
    }
    kept.units.assign(shown.size(), UnitOfCode(chart.DisplayUnit()));
    // A loaded file without a date in its name lies on day 0: the export asks for its date.
    kept.undated = chart.LoadedView && !shown.empty() && shown.front().time < 1.0;
    return kept;
}

TKeptReadings KeptReadings(const TChartModel& chart, const std::string& loaded,
                           const TArchiveWriter& archive) {
    return KeptReadings(chart, loaded, archive, chart.ChosenGauge());
}

// A proposed file name in a folder ("" is the working directory), for the save dialogs.
QString InFolder(const std::string& folder, const QString& name) {
    return folder.empty() ? name : QDir(Text(folder)).filePath(name);
}

} // namespace

void TVG57Form::ActionSaveChartExecute() {
    const QString caption = QStringLiteral("Сохранить график");
    const QString filter = QStringLiteral("PNG (*.png);;SVG (*.svg);;PDF (*.pdf)");
    const QString name = InFolder(archive_.Folder(), QStringLiteral("график.png"));
    const QString path = chooseSaveFile ? chooseSaveFile(caption, filter, name)
                                        : QFileDialog::getSaveFileName(this, caption, name, filter);
    if (path.isEmpty()) return;
    const QString problem = SaveChartImage(*area_->Chart1(), path);
    if (!problem.isEmpty()) showMessage(QStringLiteral("Невозможно сохранить график"), problem);
}

void TVG57Form::ActionExportCsvExecute() {
    // Every gauge's readings: the chosen gauge's go alone, or all of them into one file.
    std::vector<TKeptReadings> kept;
    for (std::size_t k = 0; k < std::max<std::size_t>(1, chart_.GaugeCount()); ++k)
        kept.push_back(KeptReadings(chart_, loadedArchive_, archive_, k));
    const auto held = [](const TKeptReadings& r) { return !r.times.empty(); };
    const auto undated = [](const TKeptReadings& r) { return r.undated; };
    if (std::none_of(kept.begin(), kept.end(), held)) {
        showMessage(QStringLiteral("Нет показаний для экспорта: измерения не начаты и файл не "
                                   "загружен"),
                    {});
        return;
    }
    TCsvRange range;
    range.localTimes = !chart_.LoadedView; // a run's times are its wall clock's
    const auto selection = selectedInterval ? selectedInterval() : std::nullopt;
    range.from = selection ? selection->first : chart_.TimeAxis().Min();
    range.to = selection ? selection->second : chart_.TimeAxis().Max();
    const bool several = kept.size() > 1;
    const bool askDate = std::any_of(kept.begin(), kept.end(), undated);
    bool all = false;
    const TKeptReadings& chosen = kept[std::min(chart_.ChosenGauge(), kept.size() - 1)];
    if (several || askDate) {
        const QFileInfo file(Text(chosen.file));
        std::optional<QDate> proposed;
        if (askDate) proposed = file.exists() ? file.lastModified().date() : QDate::currentDate();
        TExportDateDialog ask(
            proposed, several ? GaugeName(chart_.GaugeAddress(chart_.ChosenGauge())) : QString(),
            this);
        if ((exportDateExec ? exportDateExec(ask) : ask.exec()) != QDialog::Accepted) return;
        all = ask.AllGauges();
        if (askDate) {
            const QDate d = ask.Date();
            range.dateBase = MakeDateTime(d.year(), d.month(), d.day());
        }
    }
    if (!all && chosen.times.empty()) {
        showMessage(QStringLiteral("Нет показаний прибора на панели для экспорта"), {});
        return;
    }
    // The title says which readings go: a selection on the chart is what is written.
    const QString caption = selection ? QStringLiteral("Экспорт выделенного интервала в CSV")
                                      : QStringLiteral("Экспорт видимого интервала в CSV");
    const QString filter = QStringLiteral("CSV (*.csv)");
    // Every gauge's file is named after the run, without one gauge's address.
    const QFileInfo source(Text(all ? ArchiveNameWithoutAddress(chosen.file) : chosen.file));
    const QString name = chosen.file.empty()
                             ? InFolder(archive_.Folder(), QStringLiteral("показания.csv"))
                             : source.absoluteDir().filePath(source.completeBaseName() + ".csv");
    const QString path = chooseSaveFile ? chooseSaveFile(caption, filter, name)
                                        : QFileDialog::getSaveFileName(this, caption, name, filter);
    if (path.isEmpty()) return;
    std::size_t written = 0;
    std::string problem;
    if (all) {
        std::vector<TCsvGauge> gauges;
        for (std::size_t k = 0; k < kept.size(); ++k)
            gauges.push_back({std::max(0, chart_.GaugeAddress(k)), std::move(kept[k].times),
                              std::move(kept[k].pressures), std::move(kept[k].units)});
        problem = ExportCsvGauges(path.toStdString(), gauges, range, &written);
    } else {
        problem = ExportCsv(path.toStdString(), chosen.times, chosen.pressures, chosen.units, range,
                            &written);
    }
    if (!problem.empty()) {
        showMessage(QStringLiteral("Невозможно записать файл"), Text(problem));
        return;
    }
    statusBar()->showMessage(
        QStringLiteral("Экспортировано показаний: %1 в %2").arg(written).arg(path), 15000);
}

QString TVG57Form::ReportFolder() const {
    // Beside the archives, so that reports never show up among them; inside the home folder
    // when that is where the archives go.
    const QDir archives(Text(archive_.Folder()));
    const QString folder = archiveFolderProblem_.empty() && !archive_.Folder().empty()
                               ? QDir::cleanPath(archives.absoluteFilePath(QStringLiteral("..")))
                               : archives.absolutePath();
    return QDir(folder).filePath(QStringLiteral("Отчёты"));
}

void TVG57Form::ActionLeakRateExecute() {
    const auto selection = selectedInterval ? selectedInterval() : std::nullopt;
    if (!selection) {
        showMessage(QStringLiteral("Для оценки натекания выделите на графике интервал, в котором "
                                   "не меньше %1 показаний.")
                        .arg(kLeakMinReadings),
                    {});
        return;
    }
    ShowLeakRate(selection->first, selection->second);
}

void TVG57Form::ShowLeakRate(double from, double to) {
    const TKeptReadings kept = KeptReadings(chart_, loadedArchive_, archive_);
    TLeakReadings readings = SelectLeakReadings(kept.times, kept.pressures, kept.units, from, to);
    // The fit is drawn at the chart's keys; it is computed in instants. A run's keys are its
    // wall clock's, turned here in their order; a loaded file's dated keys are instants already.
    const double firstKey = readings.times.empty() ? 0 : readings.times.front();
    const double lastKey = readings.times.empty() ? 0 : readings.times.back();
    if (!chart_.LoadedView && firstKey >= kDatedTimesFrom) {
        TZoneRules zone;
        LocalDaysToInstantDays(readings.times.data(), readings.times.size(), zone);
    }
    switch (AnalyseLeak(readings, leakSession_.volumeLitres).problem) {
    case ELeakProblem::none:
        break;
    case ELeakProblem::tooFewReadings:
        showMessage(QStringLiteral("В выделенном интервале %1 показаний, а для оценки натекания "
                                   "нужно не меньше %2.")
                        .arg(readings.times.size())
                        .arg(kLeakMinReadings),
                    {});
        return;
    case ELeakProblem::unknownUnit:
        showMessage(QStringLiteral("В выделенном интервале %1 показаний в неизвестных единицах: "
                                   "их нельзя пересчитать.")
                        .arg(readings.unknownUnits),
                    {});
        return;
    case ELeakProblem::oneInstant:
        showMessage(QStringLiteral("Все показания интервала сняты в один момент."), {});
        return;
    }
    // The set points in the readings' unit, for the pressure to wait for.
    std::vector<double> setPoints;
    const TChartSetPoints& sp = area_->SetPoints()->Points();
    const EPressureUnit spUnit = UnitOfCode(sp.unitCode);
    if (sp.known && spUnit != EPressureUnit::unknown)
        for (double v : sp.values)
            setPoints.push_back(v * UnitFactor(spUnit, readings.unit));
    TLeakRateDialog dialog(std::move(readings), kept.file, leakSession_, setPoints, this);
    dialog.reportFolder = ReportFolder();
    dialog.SetShownTime(ShownLocalTime(QTimeZone::systemTimeZone()));
    // Beside the chart, so that the selection and its fitted line stay in view.
    dialog.adjustSize();
    const QRect chart(area_->Chart1()->mapToGlobal(QPoint(0, 0)), area_->Chart1()->size());
    const QScreen* screen = this->screen();
    // The frame is not known before the dialog is shown: room for a border and a title bar.
    const QSize frame = dialog.size() + QSize(16, 40);
    if (screen) dialog.move(PlaceBeside(chart, frame, screen->availableGeometry()));
    dialog.showError = [this](const QString& text) {
        showMessage(QStringLiteral("Отчёт не сохранён"), text);
    };
    const TLeakResult& fit = dialog.Result();
    if (tools_) tools_->ShowFit(firstKey, fit.fitStart, lastKey, fit.fitEnd);
    if (leakRateExec)
        leakRateExec(dialog);
    else
        dialog.exec();
    if (tools_) tools_->HideFit();
    leakSession_ = dialog.Session();
}

} // namespace vg57
