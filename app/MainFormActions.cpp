// The window's action handlers and its side of the gauge link and the measurement cycle.
#include "MainForm.h"

#include "About.h"
#include "AppSettFlow.h"
#include "ArchiveFolder.h"
#include "ArchiveLoader.h"
#include "ChartArea.h"
#include "ConnParamsForm.h"
#include "EventLoop.h"
#include "GaugeActions.h"
#include "ValuePanel.h"

#include <QLabel>
#include <QStatusBar>

namespace vg57 {

namespace {

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), utf8.size());
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
    if (!vg57::RunConnectionDialog(this, Settings, Vg57Port, PortNames, {}, connectionExec))
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
    if (cycle_.DemoShown())
        return QStringLiteral("Прибор не отвечает: показаны демонстрационные значения");
    if (!archiveFolderProblem_.empty()) return Text(archiveFolderProblem_);
    if (cycle_.Measuring() && !archive_.Path().empty())
        return QStringLiteral("Архив: ") + Text(archive_.Path());
    return {};
}

void TVG57Form::StatusChanged() {
    if (statusText_) statusText_->setText(StatusMessage());
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

void TVG57Form::ActionCalibrAtmExecute() {
    ReopenIfLost();
    vg57::ActionCalibrAtmExecute(link_);
}

void TVG57Form::ActionCalibrZeroExecute() {
    ReopenIfLost();
    vg57::ActionCalibrZeroExecute(link_);
}

void TVG57Form::ActionProgramSettingsExecute() {
    vg57::ActionProgramSettingsExecute(this, MeasureTimer, chart_, *area_, programSettingsExec);
}

void TVG57Form::ActionLoadfromFileExecute() {
    const QString file = chooseArchive ? chooseArchive() : QString();
    if (!file.isEmpty()) {
        const std::string problem = LoadArchiveFile(file.toStdString(), chart_);
        if (problem.empty()) loadedArchive_ = file.toStdString();
        if (!problem.empty())
            showMessage(QStringLiteral("Невозможно загрузить файл"), Text(problem));
    }
    // Whether a file was chosen or not, the time slider shows the whole loaded span.
    chart_.LoadedView = true;
}

void TVG57Form::N6Click() {
    TAboutForm about(this);
    if (aboutExec)
        aboutExec(about);
    else
        about.exec();
}

void TVG57Form::SetArchiveFolder() {
    const TArchiveFolder folder = PrepareArchiveFolder();
    archive_.SetFolder(folder.path);
    archiveFolderProblem_ = folder.problem;
    lastArchive_ = QString::fromStdString(folder.path);
    StatusChanged();
}

} // namespace vg57
