// The window's export and analysis: the chart saved as a picture, the readings of the visible
// time range as CSV, and the leak rate over an interval. Readings come back from the archive
// file that holds them (the loaded file, or this run's archive), which keeps only what the gauge
// said: no demonstration values, and each reading with the unit it was taken in.
#include "MainForm.h"

#include "ArchiveDate.h"
#include "ArchiveLoader.h"
#include "ChartArea.h"
#include "ChartExport.h"
#include "ChartTools.h"
#include "CsvExport.h"
#include "DateTime.h"
#include "ExportDateDialog.h"
#include "LeakRateDialog.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace vg57 {

namespace {

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

struct TKeptReadings {
    TArchiveData data; // times as the chart keeps them
    std::string file;
    bool undated = false; // times of day of a file whose name carries no date
    double dateBase = 0;  // the date a loaded file's times of day are on, from its name
    std::string problem;
};

// The readings behind the chart: a loaded file's as they were loaded; a run's archive with its
// name's date added, as the live chart keeps date-times.
TKeptReadings KeptReadings(const TChartModel& chart, const std::string& loaded,
                           const TArchiveWriter& archive) {
    TKeptReadings kept;
    kept.file = chart.LoadedView && !loaded.empty() ? loaded : archive.Path();
    if (kept.file.empty()) return kept;
    kept.problem = ReadArchiveFile(kept.file, kept.data);
    const bool dated = !kept.data.times.empty() && kept.data.tmin >= 1.0;
    if (!kept.problem.empty() || dated) return kept;
    const std::optional<double> date = DateOfArchiveName(kept.file);
    if (kept.file == loaded && chart.LoadedView) {
        // Left as the chart has them; the export adds the date.
        kept.undated = !date;
        kept.dateBase = date.value_or(0.0);
    } else if (date) {
        for (double& t : kept.data.times)
            t += *date;
    }
    return kept;
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
    TKeptReadings kept = KeptReadings(chart_, loadedArchive_, archive_);
    if (!kept.problem.empty()) {
        showMessage(QStringLiteral("Невозможно прочитать показания"), Text(kept.problem));
        return;
    }
    if (kept.file.empty()) {
        showMessage(QStringLiteral("Нет показаний для экспорта: измерения не начаты и файл не "
                                   "загружен"),
                    {});
        return;
    }
    TCsvRange range;
    range.dateBase = kept.dateBase;
    const auto selection = selectedInterval ? selectedInterval() : std::nullopt;
    range.from = selection ? selection->first : chart_.TimeAxis().Min();
    range.to = selection ? selection->second : chart_.TimeAxis().Max();
    if (kept.undated) {
        const QString file = Text(kept.file);
        TExportDateDialog ask(QFileInfo(file).lastModified().date(), this);
        if ((exportDateExec ? exportDateExec(ask) : ask.exec()) != QDialog::Accepted) return;
        const QDate d = ask.Date();
        range.dateBase = MakeDateTime(d.year(), d.month(), d.day());
    }
    const QString caption = QStringLiteral("Экспорт в CSV");
    const QString filter = QStringLiteral("CSV (*.csv)");
    const QFileInfo source(Text(kept.file));
    const QString name = source.absoluteDir().filePath(source.completeBaseName() + ".csv");
    const QString path = chooseSaveFile ? chooseSaveFile(caption, filter, name)
                                        : QFileDialog::getSaveFileName(this, caption, name, filter);
    if (path.isEmpty()) return;
    const TArchiveData& d = kept.data;
    const std::string problem = ExportCsv(path.toStdString(), d.times, d.pressures, d.units, range);
    if (!problem.empty()) showMessage(QStringLiteral("Невозможно записать файл"), Text(problem));
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
    if (!kept.problem.empty()) {
        showMessage(QStringLiteral("Невозможно прочитать показания"), Text(kept.problem));
        return;
    }
    const TArchiveData& d = kept.data;
    TLeakReadings readings = SelectLeakReadings(d.times, d.pressures, d.units, from, to);
    switch (AnalyseLeak(readings, leakVolume_).problem) {
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
    TLeakRateDialog dialog(std::move(readings), kept.file, leakVolume_, this);
    dialog.showError = [this](const QString& text) {
        showMessage(QStringLiteral("Отчёт не сохранён"), text);
    };
    const TLeakResult& fit = dialog.Result();
    if (tools_) tools_->ShowFit(fit.start, fit.fitStart, fit.end, fit.fitEnd);
    if (leakRateExec)
        leakRateExec(dialog);
    else
        dialog.exec();
    if (tools_) tools_->HideFit();
    leakVolume_ = dialog.Volume();
}

} // namespace vg57
