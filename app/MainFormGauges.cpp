// The window over several gauges on one line: which gauges are measured, their turns on the
// line, Start and Stop for all of them, the panel's gauge and the table of their states.
#include "MainForm.h"

#include "ChartArea.h"
#include "ChartTools.h"
#include "Codec.h"
#include "DateTime.h"
#include "EventLoop.h"
#include "GaugeStates.h"
#include "GaugeTable.h"
#include "NumberFormat.h"
#include "PressureChart.h"
#include "ValuePanel.h"

#include <QScopeGuard>

#include <limits>

namespace vg57 {

namespace {

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), utf8.size());
}

int AddressOf(char address) {
    const std::size_t at = std::string_view(kDevAddressChars).find(address);
    return at == std::string_view::npos ? TChartModel::kNoAddress : static_cast<int>(at);
}

} // namespace

std::string TVG57Form::GaugeTag(char address) const {
    return Several() ? std::string(" (адрес ") + address + ")" : std::string();
}

int TVG57Form::AddressNumber(const TLineGauge& gauge) const {
    return AddressOf(gauge.Address());
}

bool TVG57Form::OnPanel(const TLineGauge& gauge) const {
    // While several gauges' files are shown, the panel shows theirs; the link's texts wait.
    return gauges_.at(panelGauge_).get() == &gauge &&
           !(chart_.LoadedView && chart_.GaugeCount() > 1);
}

bool TVG57Form::AnyMeasuring() const {
    return std::any_of(gauges_.begin(), gauges_.end(),
                       [](const auto& g) { return g->cycle.Measuring(); });
}

void TVG57Form::WireGauge(TLineGauge& gauge) {
    TMeasureCycle& cycle = gauge.cycle;
    cycle.comPortName = [this] { return Settings.ComPort; };
    cycle.handlerRunning = [this] { return gate_.Busy(); };
    cycle.asHandler = [this](const std::function<void()>& step) {
        TActionGate::TScope scope(gate_);
        step();
    };
    cycle.onRenumbered = [this](int number) { Settings.ComPort = "COM" + std::to_string(number); };
    // Each gauge's late set-up is an action of its own: one gauge's must not swallow another's.
    const std::string key = std::string("setUp") + gauge.Address();
    cycle.afterHandlers = [this, key](const std::function<void()>& step) {
        gate_.Trigger(key, {}, [this, step] {
            if (!closePending_) platform::RunShowingErrors(step);
        });
    };
    gauge.archive.onStatusChanged = [this] { StatusChanged(); };
    cycle.lineRoundSeconds = [this] { return Several() ? LineRoundSeconds() : 0.0; };
}

double TVG57Form::LineRoundSeconds() const {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const auto kept = milliseconds(2 * TGaugeBus::kSilentRetryMs + 5000);
    double longest = 0;
    if (roundStart_ != steady_clock::time_point{})
        longest = duration<double>(now - roundStart_).count();
    for (const auto& [end, seconds] : rounds_)
        if (now - end < kept) longest = std::max(longest, seconds);
    return longest;
}

void TVG57Form::SyncGauges() {
    std::string addresses;
    for (char a : GaugeAddresses(Settings))
        if (addresses.find(a) == std::string::npos) addresses += a; // one link per gauge
    if (addresses.empty()) addresses = std::string(1, Settings.DevAddress);
    if (addresses.size() == 1 && gauges_.size() == 1) {
        // One gauge, as ever: the link follows the address chosen in the dialog.
        link_.DevAddress = addresses.front();
        return;
    }
    const char panelAddress = PanelGauge().Address();
    const bool wereSeveral = Several();
    std::vector<std::unique_ptr<TLineGauge>> old = std::move(gauges_);
    gauges_.clear();
    // The first gauge stays first whatever its address: the metrics and Cycle() follow it.
    gauges_.push_back(std::move(old.front()));
    if (gauges_.front()->Address() != addresses.front()) gauges_.front()->Readdress(addresses[0]);
    for (std::size_t i = 1; i < addresses.size(); ++i) {
        const auto kept = std::find_if(old.begin() + 1, old.end(), [&](const auto& g) {
            return g && g->Address() == addresses[i];
        });
        if (kept != old.end()) {
            gauges_.push_back(std::move(*kept));
            continue;
        }
        auto& g = gauges_.emplace_back(std::make_unique<TLineGauge>(*this, addresses[i]));
        g->link.PortConfigured = link_.PortConfigured;
        g->archive.SetFolder(archive_.Folder());
        WireGauge(*g);
    }
    old.clear(); // no handler of theirs is on the stack: this runs only while stopped
    panelGauge_ = 0;
    for (std::size_t k = 0; k < gauges_.size(); ++k) {
        // Several gauges' runs start in the same second: each file carries its gauge.
        gauges_[k]->archive.SetNameAddress(Several() ? gauges_[k]->Address() : 0);
        if (gauges_[k]->Address() == panelAddress) panelGauge_ = k;
    }
    SetChartGauges();
    GaugesChanged();
    // Back to one gauge: the panel may still show another's texts.
    ShowPanelGauge(wereSeveral);
}

void TVG57Form::SetChartGauges() {
    if (chart_.LoadedView) return; // the files' gauges are shown until a run begins
    if (!Several() && chart_.GaugeCount() == 1) return;
    std::vector<int> addresses;
    if (Several())
        for (const auto& g : gauges_)
            addresses.push_back(AddressNumber(*g));
    const int chosen = AddressNumber(PanelGauge());
    chart_.SetGauges(addresses);
    chart_.ChooseGauge(std::min(chart_.GaugeIndex(chosen), chart_.GaugeCount() - 1));
    if (area_) area_->Chart1()->Refresh();
}

void TVG57Form::LiveRunStarted(const TLineGauge& gauge) {
    if (&gauge != gauges_.front().get()) return;
    chart_.LoadedView = false;
    chart_.RunStarted();
    SetChartGauges();
    GaugesChanged();
    ShowPanelGauge();
}

void TVG57Form::ShowSetPointLines(const TLineGauge& gauge, const TChartSetPoints& points) {
    if (!area_) return;
    if (Several())
        area_->SetPoints()->SetGaugePoints(AddressNumber(gauge), points);
    else
        area_->SetPoints()->SetPoints(points);
}

void TVG57Form::StartAll() {
    PrepareArchive(); // the folder may have been moved or deleted since the last run
    // The dialog first, as the first gauge's Start would show it: it may name other gauges.
    if (!link_.PortConfigured && !RunConnectionDialog()) return;
    SyncGauges();
    if (!Several()) return cycle_.ActionStartExecute();
    rounds_.clear(); // what the line achieved before says nothing of this run
    // Each Start sets its gauge up on the line; the others' turns wait until all are started.
    turnsHeld_ = true;
    const auto release = qScopeGuard([this] { turnsHeld_ = false; });
    for (std::size_t k = 0; k < gauges_.size(); ++k) {
        TLineGauge& g = *gauges_[k];
        g.cycle.ActionStartExecute();
        // The port could not be opened (said once), or Stop or closing cut the Start short.
        if (!g.cycle.Measuring() || Bus.Cut() || closePending_) break;
    }
}

void TVG57Form::StopAll() {
    if (!Several()) return cycle_.ActionStopExecute();
    MeasureTimer.stop(); // no gauge's turn between the others' stops
    for (std::size_t k = 0; k < gauges_.size(); ++k)
        if (gauges_[k]->cycle.Measuring()) gauges_[k]->cycle.ActionStopExecute();
    GaugesChanged();
}

void TVG57Form::TakeTurns() {
    // The line is in another handler's use (a Start's set-up, a calibration, the device
    // settings): this round is left out rather than failed for every gauge.
    if (turnsHeld_ || Bus.TransferState == tsWaiting || Bus.GaugeBusy || Bus.AcquireDepth > 0)
        return;
    turnsHeld_ = true;
    roundStart_ = std::chrono::steady_clock::now();
    const auto release = qScopeGuard([this] {
        turnsHeld_ = false;
        const auto now = std::chrono::steady_clock::now();
        rounds_.emplace_back(now, std::chrono::duration<double>(now - roundStart_).count());
        roundStart_ = {};
        const auto kept = std::chrono::milliseconds(2 * TGaugeBus::kSilentRetryMs + 5000);
        while (!rounds_.empty() && (now - rounds_.front().first > kept || rounds_.size() > 512))
            rounds_.pop_front();
    });
    // One handler for the round: an action pressed meanwhile runs after the last gauge's turn.
    TActionGate::TScope scope(gate_);
    for (std::size_t k = 0; k < gauges_.size(); ++k) {
        // Stop or closing cut the wait short: the gauges after it are not asked at all.
        if (Bus.Cut() || closePending_) break;
        TLineGauge& g = *gauges_[k];
        // A gauge that failed twice running costs the others at most one time-out per 10 s.
        if (!g.cycle.Measuring() || !Bus.TurnDue(g.Address())) continue;
        platform::RunShowingErrors([&g] { g.cycle.MeasureTimerTimer(); });
    }
    GaugesChanged();
}

void TVG57Form::ChooseGauge(std::size_t k) {
    if (k >= chart_.GaugeCount() || k == chart_.ChosenGauge()) return;
    chart_.ChooseGauge(k);
    tools_->ClearSelection(); // it was made on another gauge's readings
    // The live gauge at the chosen curve's address is the one the panel and the actions are on.
    const int address = chart_.GaugeAddress(k);
    for (std::size_t g = 0; g < gauges_.size(); ++g)
        if (AddressNumber(*gauges_[g]) == address) panelGauge_ = g;
    GaugesChanged();
    ShowPanelGauge();
    StatusChanged();
    area_->Chart1()->Refresh();
}

void TVG57Form::ShowPanelGauge(bool again) {
    if (!panel_) return;
    const QString none = QString::fromUtf8(TValuePanel::kNoData);
    if (chart_.LoadedView && chart_.GaugeCount() > 1) {
        // The chosen file's last reading, never a value of another gauge or of the live line.
        const TPointStore& points = chart_.Points();
        panelFromFile_ = true;
        if (points.Empty()) {
            panel_->SetPressureText(none);
            panel_->Units()->setText(none);
        } else {
            const std::size_t last = points.Size() - 1;
            const std::string unit = UnitName(chart_.UnitCode(points.Unit(last)));
            panel_->SetPressureText(Text(FormatGeneral(points.Y(last)) + " " + unit));
            panel_->Units()->setText(Text(unit));
        }
        panel_->ShowFromFile();
        return;
    }
    // One gauge's link writes the panel itself, unless files were shown there meanwhile.
    if (!Several() && !panelFromFile_ && !again) return;
    panelFromFile_ = false;
    const TLineGauge::TShown& s = PanelGauge().Shown();
    panel_->SetPressureText(s.pressure ? Text(*s.pressure) : none);
    panel_->Units()->setText(s.units ? Text(*s.units) : none);
    SetTestText(s.test.value_or(std::string()));
    for (int i = 0; i < kSetPointCount; ++i) {
        const auto& text = s.setPoints[static_cast<std::size_t>(i)];
        panel_->SetPoint(i)->setText(text ? Text(*text) : none);
    }
    panel_->SetTransferIndicator(s.indicator);
    if (s.stopped) panel_->ShowStopped();
    UpdateValueLook();
}

void TVG57Form::GaugesChanged() {
    QStringList names;
    for (std::size_t k = 0; k < chart_.GaugeCount(); ++k)
        names << GaugeName(chart_.GaugeAddress(k));
    panel_->SetGauges(names, static_cast<int>(chart_.ChosenGauge()));
    if (names.size() <= 1) return;
    std::vector<TGaugeRow> rows;
    if (chart_.LoadedView) {
        // A loaded view: each gauge's last reading, aged against the newest of them all.
        const std::vector<TGaugeState> states = LoadedGaugeStates(chart_);
        double newest = 0;
        for (const TGaugeState& s : states)
            if (s.hasReading) newest = std::max(newest, s.readingTime);
        const double staleAfter = kStaleIntervals * MeasureTimer.interval() / 1000.0;
        for (const TGaugeState& s : states)
            rows.push_back(GaugeRow(s, newest, staleAfter));
    } else {
        // Live: whether each answers is its cycle's word; a failed tick greys its row at once.
        const double now = DaysOf(cycle_.now());
        for (std::size_t k = 0; k < chart_.GaugeCount(); ++k) {
            TGaugeState s;
            s.address = chart_.GaugeAddress(k);
            s.state = EGaugeState::stopped;
            for (const auto& g : gauges_)
                if (AddressNumber(*g) == s.address) s = g->State();
            rows.push_back(GaugeRow(s, now, std::numeric_limits<double>::infinity()));
        }
    }
    panel_->GaugeTable()->SetRows(rows);
}

} // namespace vg57
