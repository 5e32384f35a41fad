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
#include "PressureUnit.h"
#include "SPSetup.h"
#include "ValuePanel.h"

#include <QLabel>
#include <QStatusBar>
#include <QStringList>

#include <algorithm>

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
    for (const auto& g : gauges_)
        g->link.PortConfigured = true;
    return true;
}

// ---- the measurement cycle's view ----

void TVG57Form::ShowPortOpenError(const std::string& port, const std::string& reason) {
    showMessage(QStringLiteral("Невозможно открыть порт ") + Text(port), Text(reason));
}

QString TVG57Form::StatusMessage() const {
    // What is said of one gauge is said of the panel's; the adapter and the files are everyone's.
    const TLineGauge& shown = *gauges_.at(panelGauge_);
    const TMeasureCycle& cycle = shown.cycle;
    const QString tag = Text(GaugeTag(shown.Address()));
    for (const auto& g : gauges_)
        if (g->cycle.AdapterGone()) return Text(g->cycle.AdapterText());
    for (const auto& g : gauges_)
        if (!g->archive.Problem().empty()) return Text(g->archive.Problem());
    // Announced only while one is in view: off the axis they would be looked for in vain.
    if (cycle.DemoShown() && area_ && area_->Chart1()->DemoInView())
        return QStringLiteral("Прибор не отвечает: показаны демонстрационные значения");
    if (cycle.Stale() || cycle.DemoShown()) return QStringLiteral("Прибор не отвечает") + tag;
    if (cycle.NoAnswer()) return QStringLiteral("Нет ответа от прибора") + tag + "…";
    if (!archiveFolderProblem_.empty()) return Text(archiveFolderProblem_);
    if (cycle.Measuring() && !shown.archive.Notice().empty()) return Text(shown.archive.Notice());
    // Readings left out or converted are news while they are on the chart, live or loaded.
    const QString units = ChartUnitsNote(chart_);
    if (!units.isEmpty() && !chart_.LoadedView) return units;
    if (!metricsProblem_.empty()) return Text(metricsProblem_);
    if (cycle.Measuring() && !lineNotice_.empty()) return Text(lineNotice_);
    if (cycle.Measuring() && !shown.archive.Path().empty())
        return QStringLiteral("Архив: ") + Text(shown.archive.Path());
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
    for (const auto& g : gauges_)
        if (g->cycle.AdapterGone()) return Text(g->cycle.AdapterReason());
    // While measuring, which RS-485 direction control is in force on the port.
    return AnyMeasuring() && Vg57Port.Open() ? Text(Vg57Port.Rs485Text()) : QString();
}

void TVG57Form::StatusChanged() {
    if (AnyMeasuring()) loadNotice_.clear(); // the loaded readings are no longer shown
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
    const TMeasureCycle& cycle = gauges_.at(panelGauge_)->cycle;
    // Among several gauges a silent one is asked only now and then, so its ticks say nothing of
    // its age: its failed reading greys it, as it greys its row.
    const bool silent = cycle.Stale() || (Several() && cycle.NoAnswer());
    if (cycle.NoLinkYet())
        panel_->ShowNoLink();
    else if (silent && cycle.ReadingAgeSeconds() >= 0)
        panel_->ShowStale(cycle.ReadingAgeSeconds());
}

// ---- actions ----

void TVG57Form::ReopenIfLost() {
    if (Vg57Port.Open() && Vg57Port.DeviceLost()) Vg57Port.SetOpen(false);
}

void TVG57Form::ActionConnectionSetupExecute() {
    if (!RunConnectionDialog()) return;
    SyncGauges();
    ReopenIfLost();
    // Every gauge of the line is asked; the actions are offered once one has answered.
    for (std::size_t k = 0; k < gauges_.size(); ++k) {
        TGaugeLink& link = gauges_[k]->link;
        if (Bus.Cut() || closePending_ || !link.EnsureGaugeReady()) continue;
        actions_.Enable(TActionId::DeviceSettings, true);
        actions_.Enable(TActionId::CalibrAtm, true);
        actions_.Enable(TActionId::CalibrZero, true);
        // The panel shows the set points, the unit and one reading; none goes to chart or
        // archive. A malformed set point is shown, and the unit and the reading still come.
        platform::RunShowingErrors([&link] { link.ReadSetPoints(); });
        platform::RunShowingErrors([&link] { link.ReadUnit(); });
        platform::RunShowingErrors([&link] { link.ReadMeasurement(); });
    }
}

void TVG57Form::ActionDeviceSettingsExecute() {
    TLineGauge& gauge = PanelGauge();
    if (!gauge.cycle.Measuring()) ReopenIfLost();
    // With several gauges the dialog's title names the one it acts on.
    const QString tag = Text(GaugeTag(gauge.Address()));
    vg57::ActionDeviceSettingsExecute(this, gauge.link, [this, tag](TSPSetupForm& form) {
        form.setWindowTitle(form.windowTitle() + tag);
        return deviceSettingsExec ? deviceSettingsExec(form) : form.exec();
    });
}

TConfirm TVG57Form::Confirm() {
    // A window closing while the fresh reading was awaited asks nothing more: the answer is no.
    return [this](const std::string& question) {
        return !closePending_ && askQuestion(Text(question));
    };
}

void TVG57Form::ActionCalibrAtmExecute() {
    ReopenIfLost();
    TLineGauge& gauge = PanelGauge();
    vg57::ActionCalibrAtmExecute(gauge.link, Confirm(), GaugeTag(gauge.Address()));
}

void TVG57Form::ActionCalibrZeroExecute() {
    ReopenIfLost();
    TLineGauge& gauge = PanelGauge();
    vg57::ActionCalibrZeroExecute(gauge.link, Confirm(), GaugeTag(gauge.Address()));
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
    ShowPanelGauge();
    loadNotice_ = QStringLiteral("Загружено %1 точек, пропущено %2 строк").arg(points).arg(skipped);
    if (result.datedFiles > 0 && result.undatedFiles > 0)
        loadNotice_ += QStringLiteral("; файлы без даты в имени показаны на нулевом дне");
    StatusChanged();
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
    for (const auto& g : gauges_)
        g->archive.SetFolder(folder.path);
    archiveFolderProblem_ = folder.problem;
}

} // namespace vg57
