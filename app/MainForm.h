// The main window: owner of every component (the port, its framer, the polling timer, the chart
// with its sliders, the value panel, the actions, menus and tool bar) and the view of the plain
// objects that do the work: the gauge link, the measurement cycle and the archive.
#pragma once

#include "ActionGate.h"
#include "ActionStates.h"
#include "AppSettFlow.h"
#include "ArchiveLoadRun.h"
#include "ArchiveWriter.h"
#include "ChartModel.h"
#include "ComPort.h"
#include "ConnParamsForm.h"
#include "DataPacket.h"
#include "GaugeActions.h"
#include "GaugeLink.h"
#include "LeakRateDialog.h"
#include "LineGauge.h"
#include "MeasureCycle.h"
#include "PortMap.h"
#include "SetPointLines.h"
#include "Settings.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QLabel;

namespace vg57 {

class TAboutForm;
class TChartArea;
class TChartTools;
class TExportDateDialog;
class TLeakRateDialog;
class TValuePanel;

class TVG57Form : public QMainWindow, public TGaugeView, public TCycleView {
    Q_OBJECT
public:
    static constexpr int kWidth = 965;
    static constexpr int kToolBarHeight = 60, kStatusBarHeight = 19;

    explicit TVG57Form(QWidget* parent = nullptr);
    ~TVG57Form() override;

    // ---- components and state (the window's fields) ----
    // The line's owner: the port, its framer and the one exchange at a time.
    TGaugeBus Bus;
    TComPort& Vg57Port = Bus.Port();
    QTimer MeasureTimer;
    TSettings Settings;
    std::vector<platform::PortEntry> PortNames;

    // The gauges measured, in polling order: GaugeAddresses(Settings) as of the last Start or
    // connection set-up. The first is never replaced (the metrics follow it); with one gauge the
    // window is that gauge's view alone.
    std::size_t GaugeCount() const { return gauges_.size(); }
    TLineGauge& Gauge(std::size_t k) { return *gauges_.at(k); }
    bool Several() const { return gauges_.size() > 1; }
    // The panel's gauge among them: the chart's chosen curve when it is one of theirs.
    TLineGauge& PanelGauge() { return *gauges_.at(panelGauge_); }
    // Whether what the gauge's link shows goes to the panel now.
    bool OnPanel(const TLineGauge& gauge) const;
    // With several gauges " (адрес 5)", which the questions and messages about one of them carry;
    // empty with one.
    std::string GaugeTag(char address) const;
    int AddressNumber(const TLineGauge& gauge) const;

    TGaugeLink& Link() { return link_; }
    TMeasureCycle& Cycle() { return cycle_; }
    TChartModel& Chart() { return chart_; }
    TArchiveWriter& Archive() { return archive_; }
    TActionStates& ActionStates() { return actions_; }
    TActionGate& Gate() { return gate_; }
    TChartArea* ChartArea() const { return area_; }
    TChartTools* ChartTools() const { return tools_; }
    TValuePanel* ValuePanel() const { return panel_; }
    QAction* Action(TActionId id) const { return actionList_[static_cast<int>(id)]; }
    QAction* AboutAction() const { return about_; }
    QAction* SaveChartAction() const { return saveChart_; }
    QAction* ExportCsvAction() const { return exportCsv_; }
    QAction* LeakRateAction() const { return leakRate_; }
    QAction* RemoveReferenceAction() const { return removeReference_; }

    // ---- handlers ----
    void FormCreate();
    void ActionConnectionSetupExecute();
    void ActionLoadfromFileExecute();
    // The reference curve: read off the window's thread like an archive, never touching the
    // readings or a running measurement.
    void ActionLoadReferenceExecute();
    void ActionRemoveReferenceExecute();
    void ActionDeviceSettingsExecute();
    void ActionCalibrAtmExecute();
    void ActionCalibrZeroExecute();
    void ActionProgramSettingsExecute();
    void N6Click();
    void ActionSaveChartExecute();
    void ActionExportCsvExecute();
    void ActionLeakRateExecute();
    // The leak rate dialog over the readings from `from` to `to` (the chart's times, inclusive);
    // says in a message why not when the interval has too few readings or unknown units.
    void ShowLeakRate(double from, double to);
    // The chart's selected time interval (the chart tools' by default).
    std::function<std::optional<std::pair<double, double>>()> selectedInterval;

    // ---- what tests replace: modal dialogs and message boxes ----
    // Shows a message box (caption, text, detail); the default is a real QMessageBox.
    std::function<void(const QString& text, const QString& detail)> showMessage;
    // Asks a question; true for "Да". The default is a message box whose default is "Нет".
    std::function<bool(const QString& question)> askQuestion;
    // Asks for archives to load (several may be chosen together), under the given title; empty
    // when cancelled. The default lists archives ("*.txt", all files selectable), keeps the last
    // file chosen and starts in the archive folder.
    std::function<QStringList(const QString& caption)> chooseArchive;
    // More readings than this are refused (tests lower it).
    std::size_t maxLoadedReadings = kMaxLoadedReadings;
    // The load running now, or null.
    TArchiveLoadRun* LoadRun() const { return load_.get(); }
    // How each dialog is shown; empty: modally with exec(). Tests fill the form and answer.
    TSetupCommExec connectionExec;
    TSPSetupExec deviceSettingsExec;
    TAppSettingsExec programSettingsExec;
    std::function<int(TAboutForm&)> aboutExec;
    // Asks where to save (caption, filter, proposed name); empty when cancelled.
    std::function<QString(const QString&, const QString&, const QString&)> chooseSaveFile;
    std::function<int(TLeakRateDialog&)> leakRateExec;
    std::function<int(TExportDateDialog&)> exportDateExec;

    // ---- TGaugeView ----
    void SetUnitsText(const std::string& text) override;
    void SetPressureText(const std::string& text) override;
    void SetTestText(const std::string& text) override;
    void SetSetPointText(int index, const std::string& text) override;
    void SetTransferIndicator(TIndicator colour) override;
    void ShowMessage(const std::string& text) override;
    bool RunConnectionDialog() override;

    // ---- TCycleView ----
    void ShowPortOpenError(const std::string& port, const std::string& reason) override;
    void StatusChanged() override;
    void RunStopped() override;

    // ---- what the gauges tell beyond their view ----
    // A gauge's set points read together with its unit: its set point lines on the chart.
    void ShowSetPointLines(const TLineGauge& gauge, const TChartSetPoints& points);
    // A gauge's run started: the first one starts the chart's live run.
    void LiveRunStarted(const TLineGauge& gauge);

    // The session ends (logout, SIGTERM): the run stops as Stop stops it and the window closes
    // without a question.
    void EndSession();

    // The text the status bar shows now, in Russian, and the technical reason behind it, in
    // whatever words the link and the system give, as its tooltip.
    QString StatusMessage() const;
    // The metrics address could not be served: the status bar says so, and measuring goes on.
    void SetMetricsProblem(std::string text);
    QString StatusDetail() const;
    // The window's size at start, also its minimum: the chart area at its design size.
    QSize StartSize() const;
    QMenu* createPopupMenu() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // The panel's gauge: the chart's tools, set point lines and the large value act on it.
    void ChooseGauge(std::size_t k);

private:
    // The chart's gauges changed, or their states: the selector and the table.
    void GaugesChanged();
    // The gauges to measure from the settings, before a run or after the connection set-up:
    // gauges kept at their addresses, the others made or let go. Never inside a wait.
    void SyncGauges();
    // The chart's gauges as the live ones, the panel's gauge kept.
    void SetChartGauges();
    bool AnyMeasuring() const;
    // The panel shows the panel's gauge: what its link showed last, or a loaded gauge's reading.
    // One gauge's link writes the panel itself: its texts are shown again only when `again`.
    void ShowPanelGauge(bool again = false);
    // Every measured gauge's turn on the line, in order, as one handler.
    void TakeTurns();
    // The longest round of turns lately, the one running included, in seconds.
    double LineRoundSeconds() const;
    void StartAll();
    void StopAll();
    // A gauge's cycle and archive wired to the window, as the first one's are.
    void WireGauge(TLineGauge& gauge);
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildClientArea();
    // Runs an operator action through the gate: at once, or after the running handler returns.
    // An action that cuts the running wait short cuts it in its own name (its key), and the
    // cut ends when the queued action runs or is dropped.
    void Operate(const std::string& key, TActionId id, std::function<void()> handler,
                 bool cutsWaits = false);
    // Before an action that needs the gauge while stopped: a port whose adapter dropped out is
    // closed, so that the action's first write opens it anew.
    void ReopenIfLost();
    void SetArchiveFolder();
    // Where leak reports are proposed: "Отчёты" beside the archive folder.
    QString ReportFolder() const;
    // Asks for files to load, with the dialog's title; empty when cancelled.
    QStringList ChooseFiles(const QString& caption);
    void PrepareArchive();
    // Reads the files on a worker thread, holding off what must not run under the load (with
    // Start for an archive, which replaces the readings), then hands the result to `finished`
    // through the gate.
    void StartLoad(const QStringList& files, bool replacesReadings,
                   void (TVG57Form::*finished)(TLoadResult&&));
    void EndLoad();
    // The end of a load: the chart's loaded view from the readings, or a message.
    void LoadFinished(TLoadResult&& result);
    // The end of a reference's load: the curve laid under the chart, or a message.
    void ReferenceLoaded(TLoadResult&& result);
    TConfirm Confirm();
    void LayoutClientArea();
    // "Идут измерения. Остановить и выйти?"; true for "Да".
    bool AskToStopAndClose();
    // The window is about to close: nothing more goes out and the archive is closed.
    void StopForClose();
    // The value panel's look from the cycle: "Нет связи", stale (grey, with its age) or current.
    void UpdateValueLook();

    TChartModel chart_;
    TActionStates actions_;
    TActionGate gate_;
    std::vector<std::unique_ptr<TLineGauge>> gauges_;
    std::size_t panelGauge_ = 0;
    bool turnsHeld_ = false;     // the gauges are being started, or taking turns
    bool panelFromFile_ = false; // the panel shows a loaded gauge's last reading
    // The rounds of turns lately: when each ended and how long it took. A silent gauge is
    // retried every few seconds, so they are kept for two of its retries.
    std::deque<std::pair<std::chrono::steady_clock::time_point, double>> rounds_;
    std::chrono::steady_clock::time_point roundStart_{}; // of the round running; 0: none
    // The first gauge's, which one gauge alone is.
    TGaugeLink& link_;
    TArchiveWriter& archive_;
    TMeasureCycle& cycle_;
    std::string archiveFolderProblem_;
    std::string metricsProblem_;
    std::string lineNotice_; // what the serial link said last about its direction control
    QString lastArchive_;    // the open-file dialog's file name, kept between uses
    std::unique_ptr<TArchiveLoadRun> load_;
    QString loadNotice_;         // what the last load read, for the status bar
    std::string loadingArchive_; // the first file of the load running now
    std::string loadedArchive_;  // the first file of the last load, to name exports after
    TLeakSession leakSession_;   // the leak test's inputs and baseline, kept while the program runs
    bool closeNow_ = false;
    bool closePending_ = false; // closed during a wait: nothing queued runs any more
    bool closeAsked_ = false;   // the question whether to stop and close is open or queued
    bool sessionEnding_ = false;

    TChartArea* area_ = nullptr;
    TChartTools* tools_ = nullptr;
    TValuePanel* panel_ = nullptr;
    QLabel* statusText_ = nullptr;
    std::array<QAction*, kActionCount> actionList_{};
    QAction* about_ = nullptr;
    QAction* saveChart_ = nullptr;
    QAction* exportCsv_ = nullptr;
    QAction* leakRate_ = nullptr;
    QAction* removeReference_ = nullptr;
};

} // namespace vg57
