// The window's action handlers and its side of the gauge link and the measurement cycle.
#include "MainForm.h"

#include "About.h"
#include "AppSettFlow.h"
#include "ArchiveFolder.h"
#include "ArchiveLoader.h"
#include "ChartArea.h"
#include "ChartTools.h"
#include "ConnParamsForm.h"
#include "EventLoop.h"
#include "GaugeActions.h"
#include "GaugeStates.h"
#include "GaugeTable.h"
#include "NumberFormat.h"
#include "PressureUnit.h"
#include "Staleness.h"
#include "ValuePanel.h"

#include <QLabel>
#include <QStatusBar>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace vg57 {

namespace {

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), utf8.size());
}

// What the chart did with the readings' units: converted several into one, or left some out.
QString ChartUnitsNote(const TChartModel& chart) {
    QStringList notes;
    const std::size_t leftOut = chart.ReadingsLeftOut();
    // Live, the panel names the unit and the axis follows it; a file's mix is news.
    if (chart.LoadedView && chart.UnitsMixed() && chart.Points().Size() > leftOut)
        notes << QStringLiteral("Показания приведены к единице ") +
                     Text(UnitTitle(chart.DisplayUnit()));
    if (leftOut > 0)
        notes << QStringLiteral("Не показано показаний в неизвестной единице: %1").arg(leftOut);
    return notes.join(QStringLiteral("; "));
}

} // namespace

// ---- the gauge link's view ----

void TVG57Form::SetUnitsText(const std::string& text) {
    panel_->Units()->setText(Text(text));
    // Set points read just before: the chart draws them in the unit read now. Known only when all
    // six came and the link took each (a malformed one leaves its old value there).
    if (std::none_of(setPointsRead_.begin(), setPointsRead_.end(),
                     [](const auto& v) { return v.has_value(); }))
        return;
    TChartSetPoints points;
    points.unitCode = link_.UnitCode;
    points.known = true;
    for (std::size_t i = 0; i < setPointsRead_.size(); ++i) {
        points.known = points.known && setPointsRead_[i] == link_.SetPoints[i];
        points.values[i] = static_cast<double>(link_.SetPoints[i]);
    }
    setPointsRead_.fill(std::nullopt);
    area_->SetPoints()->SetPoints(points);
    if (points.known) cycle_.PublishSetPoints();
}

void TVG57Form::SetPressureText(const std::string& text) {
    panel_->SetPressureText(Text(text));
}

void TVG57Form::SetTestText(const std::string& text) {
    panel_->StaticTextTest()->setText(Text(text));
    panel_->StaticTextTest()->adjustSize();
}

void TVG57Form::SetSetPointText(int index, const std::string& text) {
    panel_->SetPoint(index)->setText(Text(text));
    if (index >= 0 && index < kSetPointCount)
        setPointsRead_[static_cast<std::size_t>(index)] =
            ParseNumber(text).value_or(std::numeric_limits<long double>::quiet_NaN());
}

void TVG57Form::SetTransferIndicator(TIndicator colour) {
    panel_->SetTransferIndicator(colour);
}

void TVG57Form::ShowMessage(const std::string& text) {
    showMessage(Text(text), {});
}

bool TVG57Form::RunConnectionDialog() {
    if (!vg57::RunConnectionDialog(this, Settings, Bus, PortNames, {}, connectionExec))
        return false;
    link_.DevAddress = Settings.DevAddress;
    link_.PortConfigured = true;
    return true;
}

// ---- the measurement cycle's view ----

void TVG57Form::ShowPortOpenError(const std::string& port, const std::string& reason) {
    showMessage(QStringLiteral("Невозможно открыть порт ") + Text(port), Text(reason));
}

QString TVG57Form::StatusMessage() const {
    if (cycle_.AdapterGone()) return Text(cycle_.AdapterText());
    if (!archive_.Problem().empty()) return Text(archive_.Problem());
    // Announced only while one is in view: off the axis they would be looked for in vain.
    if (cycle_.DemoShown() && area_ && area_->Chart1()->DemoInView())
        return QStringLiteral("Прибор не отвечает: показаны демонстрационные значения");
    if (cycle_.Stale() || cycle_.DemoShown()) return QStringLiteral("Прибор не отвечает");
    if (cycle_.NoAnswer()) return QStringLiteral("Нет ответа от прибора…");
    if (!archiveFolderProblem_.empty()) return Text(archiveFolderProblem_);
    if (cycle_.Measuring() && !archive_.Notice().empty()) return Text(archive_.Notice());
    // Readings left out or converted are news while they are on the chart, live or loaded.
    const QString units = ChartUnitsNote(chart_);
    if (!units.isEmpty() && !chart_.LoadedView) return units;
    if (!metricsProblem_.empty()) return Text(metricsProblem_);
    if (cycle_.Measuring() && !lineNotice_.empty()) return Text(lineNotice_);
    if (cycle_.Measuring() && !archive_.Path().empty())
        return QStringLiteral("Архив: ") + Text(archive_.Path());
    if (chart_.LoadedView) {
        QStringList notes;
        if (!loadNotice_.isEmpty()) notes << loadNotice_;
        if (!units.isEmpty()) notes << units;
        return notes.join(QStringLiteral("; "));
    }
    return {};
}

void TVG57Form::SetMetricsProblem(std::string text) {
    metricsProblem_ = std::move(text);
    StatusChanged();
}

QString TVG57Form::StatusDetail() const {
    if (cycle_.AdapterGone()) return Text(cycle_.AdapterReason());
    // While measuring, which RS-485 direction control is in force on the port.
    return cycle_.Measuring() && Vg57Port.Open() ? Text(Vg57Port.Rs485Text()) : QString();
}

void TVG57Form::StatusChanged() {
    if (cycle_.Measuring()) loadNotice_.clear(); // the loaded readings are no longer shown
    if (statusText_) {
        statusText_->setText(StatusMessage());
        statusText_->setToolTip(StatusDetail());
    }
    UpdateValueLook();
    if (panel_) GaugesChanged(); // a run may have ended a load of several gauges
}

void TVG57Form::RunStopped() {
    if (panel_) panel_->ShowStopped();
}

void TVG57Form::UpdateValueLook() {
    if (!panel_) return;
    if (cycle_.NoLinkYet())
        panel_->ShowNoLink();
    else if (cycle_.Stale() && cycle_.ReadingAgeSeconds() >= 0)
        panel_->ShowStale(cycle_.ReadingAgeSeconds());
}

// ---- actions ----

void TVG57Form::ReopenIfLost() {
    if (Vg57Port.Open() && Vg57Port.DeviceLost()) Vg57Port.SetOpen(false);
}

void TVG57Form::ActionConnectionSetupExecute() {
    if (!RunConnectionDialog()) return;
    ReopenIfLost();
    if (!link_.EnsureGaugeReady()) return;
    actions_.Enable(TActionId::DeviceSettings, true);
    actions_.Enable(TActionId::CalibrAtm, true);
    actions_.Enable(TActionId::CalibrZero, true);
    // The panel shows the set points, the unit and one reading; none goes to chart or archive.
    // A malformed set point is shown, and the unit and the reading still come.
    platform::RunShowingErrors([this] { link_.ReadSetPoints(); });
    platform::RunShowingErrors([this] { link_.ReadUnit(); });
    platform::RunShowingErrors([this] { link_.ReadMeasurement(); });
}

void TVG57Form::ActionDeviceSettingsExecute() {
    if (!cycle_.Measuring()) ReopenIfLost();
    vg57::ActionDeviceSettingsExecute(this, link_, deviceSettingsExec);
}

TConfirm TVG57Form::Confirm() {
    // A window closing while the fresh reading was awaited asks nothing more: the answer is no.
    return [this](const std::string& question) {
        return !closePending_ && askQuestion(Text(question));
    };
}

void TVG57Form::ActionCalibrAtmExecute() {
    ReopenIfLost();
    vg57::ActionCalibrAtmExecute(link_, Confirm());
}

void TVG57Form::ActionCalibrZeroExecute() {
    ReopenIfLost();
    vg57::ActionCalibrZeroExecute(link_, Confirm());
}

void TVG57Form::ActionProgramSettingsExecute() {
    vg57::ActionProgramSettingsExecute(this, MeasureTimer, chart_, *area_, programSettingsExec);
}

void TVG57Form::ActionLoadfromFileExecute() {
    const QStringList files =
        chooseArchive ? chooseArchive(QStringLiteral("Загрузить архив")) : QStringList();
    if (files.isEmpty()) {
        // No file chosen: the time slider shows the whole span loaded before.
        chart_.LoadedView = true;
        return;
    }
    StartLoad(files, true, &TVG57Form::LoadFinished);
}

void TVG57Form::ActionLoadReferenceExecute() {
    const QStringList files =
        chooseArchive ? chooseArchive(QStringLiteral("Загрузить эталонную кривую")) : QStringList();
    if (!files.isEmpty()) StartLoad(files, false, &TVG57Form::ReferenceLoaded);
}

void TVG57Form::ActionRemoveReferenceExecute() {
    chart_.RemoveReference();
    removeReference_->setEnabled(false);
}

void TVG57Form::StartLoad(const QStringList& files, bool replacesReadings,
                          void (TVG57Form::*finished)(TLoadResult&&)) {
    TLoadRequest request;
    loadingArchive_ = files.front().toStdString();
    for (const QString& file : files)
        request.paths.push_back(file.toStdString());
    request.maxReadings = maxLoadedReadings;
    // One load at a time, and no run may begin under a load that replaces the readings.
    if (replacesReadings) actions_.Hold(TActionId::Start, true);
    actions_.Hold(TActionId::LoadfromFile, true);
    actions_.Hold(TActionId::LoadReference, true);
    load_ = std::make_unique<TArchiveLoadRun>(
        this, std::move(request), [this, finished](TLoadResult&& r) {
            // Through the gate: a message box must not open inside another handler's wait.
            auto result = std::make_shared<TLoadResult>(std::move(r));
            gate_.Trigger("loaded", {}, [this, result, finished] {
                EndLoad();
                (this->*finished)(std::move(*result));
            });
        });
}

void TVG57Form::EndLoad() {
    load_.release()->deleteLater(); // we may be inside its own call to us
    for (TActionId id : {TActionId::Start, TActionId::LoadfromFile, TActionId::LoadReference})
        actions_.Hold(id, false);
}

void TVG57Form::LoadFinished(TLoadResult&& result) {
    if (result.cancelled) return;
    if (!result.problem.empty()) {
        showMessage(Text(result.problem), Text(result.detail));
        return;
    }
    const std::size_t points = LoadedReadings(result), skipped = LoadedLinesSkipped(result);
    chart_.LoadedView = true;
    chart_.LoadedDates = result.datedFiles > 0;
    loadedArchive_ = loadingArchive_;
    if (result.gauges.empty())
        ShowLoadedReadings(chart_, std::move(result.data), result.zone);
    else
        ShowLoadedGauges(chart_, std::move(result.gauges), result.zone);
    GaugesChanged();
    loadNotice_ = QStringLiteral("Загружено %1 точек, пропущено %2 строк").arg(points).arg(skipped);
    if (result.datedFiles > 0 && result.undatedFiles > 0)
        loadNotice_ += QStringLiteral("; файлы без даты в имени показаны на нулевом дне");
    StatusChanged();
}

void TVG57Form::ChooseGauge(std::size_t k) {
    if (k >= chart_.GaugeCount() || k == chart_.ChosenGauge()) return;
    chart_.ChooseGauge(k);
    tools_->ClearSelection(); // it was made on another gauge's readings
    GaugesChanged();
    area_->Chart1()->Refresh();
}

void TVG57Form::GaugesChanged() {
    QStringList names;
    for (std::size_t k = 0; k < chart_.GaugeCount(); ++k)
        names << GaugeName(chart_.GaugeAddress(k));
    panel_->SetGauges(names, static_cast<int>(chart_.ChosenGauge()));
    if (names.size() <= 1) return;
    // A loaded view: each gauge's last reading, aged against the newest of them all.
    const std::vector<TGaugeState> states = LoadedGaugeStates(chart_);
    double newest = 0;
    for (const TGaugeState& s : states)
        if (s.hasReading) newest = std::max(newest, s.readingTime);
    std::vector<TGaugeRow> rows;
    const double staleAfter = kStaleIntervals * MeasureTimer.interval() / 1000.0;
    for (const TGaugeState& s : states)
        rows.push_back(GaugeRow(s, newest, staleAfter));
    panel_->GaugeTable()->SetRows(rows);
}

void TVG57Form::ReferenceLoaded(TLoadResult&& result) {
    if (result.cancelled) return;
    if (!result.problem.empty()) {
        showMessage(Text(result.problem), Text(result.detail));
        return;
    }
    if (!result.gauges.empty()) {
        showMessage(QStringLiteral("Эталонная кривая не загружена: выбраны файлы нескольких "
                                   "приборов, эталоном может быть только один"),
                    Text(loadingArchive_));
        return;
    }
    const TArchiveData& d = result.data;
    const std::string unknown = chart_.SetReference(d.times, d.pressures, d.units, d.unitCodes);
    if (!unknown.empty()) {
        showMessage(QStringLiteral("Эталонная кривая не загружена: в файле есть показания в "
                                   "неизвестной единице измерения «%1»")
                        .arg(Text(unknown)),
                    Text(loadingArchive_));
        return;
    }
    removeReference_->setEnabled(true);
}

void TVG57Form::N6Click() {
    TAboutForm about(this);
    if (aboutExec)
        aboutExec(about);
    else
        about.exec();
}

void TVG57Form::SetArchiveFolder() {
    PrepareArchive();
    lastArchive_ = QString::fromStdString(archive_.Folder());
    StatusChanged();
}

void TVG57Form::PrepareArchive() {
    const TArchiveFolder folder = PrepareArchiveFolder();
    archive_.SetFolder(folder.path);
    archiveFolderProblem_ = folder.problem;
}

} // namespace vg57
