#include "MainForm.h"

#include "ChartArea.h"
#include "ChartTools.h"
#include "Codec.h"
#include "DateTime.h"
#include "EventLoop.h"
#include "MessageBox.h"
#include "Pictures.h"
#include "ValuePanel.h"
#include "WebLink.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace vg57 {

namespace {

struct TActionDesign {
    TActionId id;
    const char* caption;
    QKeySequence shortcut;
    int image; // in the tool bar's picture list; -1: none
};
const TActionDesign kActions[kActionCount] = {
    {TActionId::Start, "Начать измерения", Qt::Key_F5, 0},
    {TActionId::Stop, "Стоп", Qt::Key_F6, 1},
    {TActionId::LoadfromFile, "Загрузить из файла", {}, -1},
    {TActionId::Exit, "В&ыход", {}, 6},
    {TActionId::DeviceSettings, "&Параметры прибора...", {}, 4},
    {TActionId::CalibrAtm, "&Калибровка по атмосфере", {}, 3},
    {TActionId::CalibrZero, "Калибровка &нуля", {}, -1},
    {TActionId::ProgramSettings, "&Настройки программы", {}, -1},
    {TActionId::ConnectionSetup, "Настройка параметров подключения...", {}, 2},
    {TActionId::LoadReference, "Загрузить эталонную кривую...", {}, -1},
};

const char* const kTitle = "Программа управления прибором Baromax VG-57";
// The owner of the close's cut of the line, which nothing lifts.
const char* const kClosing = "close";

} // namespace

TVG57Form::TVG57Form(QWidget* parent)
    : QMainWindow(parent), chart_(CurrentDateTime()), gauges_([this] {
          std::vector<std::unique_ptr<TLineGauge>> first;
          first.push_back(std::make_unique<TLineGauge>(*this, '1'));
          return first;
      }()),
      link_(gauges_.front()->link), archive_(gauges_.front()->archive),
      cycle_(gauges_.front()->cycle) {
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowIcon(ProgramIcon());

    // The port as the window's design sets it (the bus frames and drives the line).
    Vg57Port.SetComNumber(3);
    Vg57Port.SetBaud(38400);
    Vg57Port.SetParity(pOdd);
    // One adapter for all the gauges: its loss and return are every gauge's.
    Vg57Port.OnDeviceLost = [this](TComPort&) {
        for (std::size_t k = 0; k < gauges_.size(); ++k)
            gauges_[k]->cycle.DeviceLost();
    };
    Vg57Port.OnPortOpen = [this](TComPort&) {
        lineNotice_.clear(); // said once per open: this open's come after it
        for (std::size_t k = 0; k < gauges_.size(); ++k)
            gauges_[k]->cycle.PortOpened();
    };
    Vg57Port.OnLineNotice = [this](TComPort&, const std::string& text) {
        lineNotice_ = text;
        StatusChanged();
    };
    Bus.onNotice = [this](const std::string& text) {
        statusBar()->showMessage(QString::fromUtf8(text), 10000);
    };

    MeasureTimer.setInterval(500);
    connect(&MeasureTimer, &QTimer::timeout, this, [this] {
        if (Several()) return TakeTurns();
        // Ticks run inside waits too; they are handlers that may wait themselves.
        TActionGate::TScope scope(gate_);
        platform::RunShowingErrors([this] { cycle_.MeasureTimerTimer(); });
    });
    WireGauge(*gauges_.front());
    gate_.scheduleDrain = [this] {
        QMetaObject::invokeMethod(
            this, [this] { gate_.Drain(); }, Qt::QueuedConnection);
    };
    chooseArchive = [this](const QString& caption) {
        const QStringList files = QFileDialog::getOpenFileNames(
            this, caption, lastArchive_, QStringLiteral("Архивы (*.txt);;Все файлы (*)"));
        if (!files.isEmpty()) lastArchive_ = files.front();
        return files;
    };
    showMessage = [this](const QString& text, const QString& detail) {
        ShowMessageBox(this, QMessageBox::NoIcon, QString::fromUtf8(kTitle), text, detail);
    };
    askQuestion = [this](const QString& question) {
        return AskYesNo(this, QString::fromUtf8(kTitle), question);
    };

    // The constructor's start values; the chart's are its model's own.
    link_.PortConfigured = false;
    link_.GaugeReady = false;
    link_.DevAddress = '1';

    BuildActions();
    BuildMenus();
    BuildToolBar();
    BuildClientArea();
    // The chart area has its design size at the start size, whatever the menu bar, tool bar and
    // status bar need on this desktop: the pressure track is then its design 400 pixels.
    setMinimumSize(StartSize());
    resize(StartSize());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TVG57Form::~TVG57Form() {
    // Nothing may reach the gauge or the window from here on: closing the port below handles
    // events, and no queued action, tick or reconnection may run then.
    gate_.Close();
    load_.reset(); // joins the loading thread, which may still be reading
    for (auto& g : gauges_)
        g->cycle.Shutdown();
    Bus.CancelExchanges(kClosing);
    MeasureTimer.stop();
    for (auto& g : gauges_)
        g->archive.Close();
    // The port is closed while everything it may call back still lives: closing handles events.
    Vg57Port.OnDeviceLost = nullptr;
    Vg57Port.OnPortOpen = nullptr;
    Bus.onNotice = nullptr;
    Vg57Port.OnLineNotice = nullptr;
    try {
        Vg57Port.SetOpen(false);
    } catch (...) {
        // Closing a port releases what it holds; nothing is left to report to.
    }
    // The chart's widgets go before the model they draw.
    delete takeCentralWidget();
    area_ = nullptr;
    panel_ = nullptr;
    PortNames.clear(); // FormDestroy
}

void TVG57Form::FormCreate() {
    PortNames = platform::ScanPortMap();
    Settings.ComPort = "COM3";
    if (!PortNames.empty()) Vg57Port.SetComNumber(3);
    Settings.BaudRate = 9600;
    Settings.Parity = 1;
    Settings.StopBits = 1;
    Settings.DevAddress = '0';
    link_.DevAddress = Settings.DevAddress;
    Vg57Port.SetBaud(Settings.BaudRate);
    Vg57Port.SetStopBits(Settings.StopBits);
    chart_.FormCreate(CurrentDateTime());
    SetArchiveFolder();
}

void TVG57Form::BuildActions() {
    for (const TActionDesign& d : kActions) {
        auto* a = new QAction(QString::fromUtf8(d.caption), this);
        if (!d.shortcut.isEmpty()) a->setShortcut(d.shortcut);
        if (d.image >= 0) a->setIcon(ToolbarIcon(d.image));
        a->setEnabled(actions_.Enabled(d.id));
        actionList_[static_cast<int>(d.id)] = a;
    }
    actions_.changed = [this](TActionId id, bool on) { Action(id)->setEnabled(on); };

    auto wire = [this](TActionId id, const char* key, std::function<void()> handler,
                       bool cutsWaits = false) {
        connect(Action(id), &QAction::triggered, this,
                [=, this] { Operate(key, id, handler, cutsWaits); });
    };
    wire(TActionId::Start, "start", [this] { StartAll(); });
    // Stop must not wait behind a long exchange: the running wait ends at once.
    wire(
        TActionId::Stop, "stop", [this] { StopAll(); }, true);
    wire(TActionId::LoadfromFile, "load", [this] { ActionLoadfromFileExecute(); });
    wire(TActionId::LoadReference, "loadReference", [this] { ActionLoadReferenceExecute(); });
    // Exit is closing the window: at once when no handler runs, else as the close box does it,
    // cutting the running wait short and closing once the handler has returned.
    connect(Action(TActionId::Exit), &QAction::triggered, this, [this] { close(); });
    wire(TActionId::DeviceSettings, "device", [this] { ActionDeviceSettingsExecute(); });
    wire(TActionId::CalibrAtm, "calibrAtm", [this] { ActionCalibrAtmExecute(); });
    wire(TActionId::CalibrZero, "calibrZero", [this] { ActionCalibrZeroExecute(); });
    wire(TActionId::ProgramSettings, "program", [this] { ActionProgramSettingsExecute(); });
    wire(TActionId::ConnectionSetup, "connection", [this] { ActionConnectionSetupExecute(); });

    about_ = new QAction(QStringLiteral("&О программе"), this);
    connect(about_, &QAction::triggered, this, [this] {
        gate_.Trigger("about", {}, [this] {
            if (!closePending_) platform::RunShowingErrors([this] { N6Click(); });
        });
    });
    // Export and analysis read what is kept; they work while measuring too, after the running
    // handler has returned.
    auto viewAction = [this](const QString& caption, const char* key, void (TVG57Form::*run)()) {
        auto* a = new QAction(caption, this);
        connect(a, &QAction::triggered, this, [this, key, run] {
            gate_.Trigger(key, {}, [this, run] {
                if (!closePending_) platform::RunShowingErrors([this, run] { (this->*run)(); });
            });
        });
        return a;
    };
    saveChart_ = viewAction(QStringLiteral("Сохранить график..."), "saveChart",
                            &TVG57Form::ActionSaveChartExecute);
    exportCsv_ = viewAction(QStringLiteral("Экспорт в CSV..."), "exportCsv",
                            &TVG57Form::ActionExportCsvExecute);
    leakRate_ = viewAction(QStringLiteral("Скорость натекания..."), "leakRate",
                           &TVG57Form::ActionLeakRateExecute);
    removeReference_ = viewAction(QStringLiteral("Убрать эталонную кривую"), "removeReference",
                                  &TVG57Form::ActionRemoveReferenceExecute);
    removeReference_->setEnabled(false);
}

void TVG57Form::Operate(const std::string& key, TActionId id, std::function<void()> handler,
                        bool cutsWaits) {
    std::function<void()> cut, lift;
    if (cutsWaits) {
        cut = [this, id, key] {
            if (actions_.Enabled(id)) Bus.CancelExchanges(key);
        };
        lift = [this, key] { Bus.ResumeExchanges(key); };
    }
    gate_.Trigger(
        key, [this, id] { return actions_.Enabled(id); },
        [this, handler] {
            // Once the window is closing, what was queued behind the close's wait is dropped.
            if (!closePending_) platform::RunShowingErrors(handler);
        },
        cut, lift);
}

void TVG57Form::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->addAction(Action(TActionId::Start));
    // The menu names Stop in full; the item follows the action's state and shortcut.
    auto* stopItem = new QAction(QStringLiteral("Остановить измерения"), this);
    stopItem->setShortcut(Action(TActionId::Stop)->shortcut());
    stopItem->setShortcutContext(Qt::WidgetShortcut); // the action's own shortcut acts
    stopItem->setIcon(Action(TActionId::Stop)->icon());
    stopItem->setEnabled(false);
    connect(Action(TActionId::Stop), &QAction::changed, stopItem,
            [this, stopItem] { stopItem->setEnabled(Action(TActionId::Stop)->isEnabled()); });
    connect(stopItem, &QAction::triggered, Action(TActionId::Stop), &QAction::trigger);
    file->addAction(stopItem);
    file->addSeparator();
    file->addAction(Action(TActionId::LoadfromFile));
    file->addAction(Action(TActionId::LoadReference));
    file->addAction(removeReference_);
    file->addAction(saveChart_);
    file->addAction(exportCsv_);
    file->addSeparator();
    file->addAction(Action(TActionId::Exit));

    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Настройки"));
    settings->addAction(Action(TActionId::DeviceSettings));
    settings->addAction(Action(TActionId::CalibrAtm));
    settings->addAction(Action(TActionId::CalibrZero));
    settings->addSeparator();
    settings->addAction(Action(TActionId::ProgramSettings));
    settings->addAction(Action(TActionId::ConnectionSetup));
    settings->addSeparator();
    settings->addAction(leakRate_);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
    help->addAction(about_);
}

void TVG57Form::BuildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setFixedHeight(kToolBarHeight);
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, bar);
    const struct {
        const char* caption;
        TActionId id;
    } buttons[] = {
        {"Начать", TActionId::Start},          {"Остановить", TActionId::Stop},
        {"&Калибровка", TActionId::CalibrAtm}, {"&Параметры...", TActionId::DeviceSettings},
        {"В&ыход", TActionId::Exit},
    };
    for (const auto& b : buttons) {
        auto* button = new QToolButton(bar);
        button->setDefaultAction(Action(b.id));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setFixedSize(81, 52);
        // The button's caption is its own; it still follows the action's state.
        const QString caption = QString::fromUtf8(b.caption);
        button->setText(caption);
        connect(Action(b.id), &QAction::changed, button,
                [button, caption] { button->setText(caption); });
        bar->addWidget(button);
    }
}

void TVG57Form::BuildClientArea() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    area_ = new TChartArea(chart_, client);
    panel_ = new TValuePanel(client);
    panel_->Image1()->setPixmap(GaugePicture(panel_->Image1()->size()));
    panel_->Image2()->setPixmap(LogoPicture(panel_->Image2()->size()));
    // The address as people write it: the link opens the full one.
    panel_->StaticText1()->setText(QUrl(QString::fromLatin1(kDistributorUrl)).host());
    panel_->StaticText1()->adjustSize();
    panel_->onLinkClicked = [] { OpenDistributorPage(); };
    setCentralWidget(client);

    // The chart's context menu runs the program settings.
    connect(area_->Chart1()->DisplaySettingsAction(), &QAction::triggered,
            Action(TActionId::ProgramSettings), &QAction::trigger);
    area_->Chart1()->onDemoInViewChanged = [this] { StatusChanged(); };
    tools_ = new TChartTools(*area_->Chart1(), chart_);
    selectedInterval = [this] { return tools_->Selection(); };
    area_->Chart1()->PopupMenu()->addAction(leakRate_);
    panel_->onGaugeChosen = [this](int k) { ChooseGauge(static_cast<std::size_t>(k)); };
    connect(area_->Chart1(), &TPressureChart::GaugeClicked, this, &TVG57Form::ChooseGauge);

    statusText_ = new QLabel(this);
    statusBar()->addWidget(statusText_, 1);
    statusBar()->setFixedHeight(kStatusBarHeight);
    statusBar()->setSizeGripEnabled(true);
}

QSize TVG57Form::StartSize() const {
    return {kWidth, menuBar()->sizeHint().height() + kToolBarHeight + kStatusBarHeight +
                        TChartArea::kDesignHeight};
}

QMenu* TVG57Form::createPopupMenu() {
    // The bars' menu would offer only to hide the tool bar, under a blank entry.
    return nullptr;
}

void TVG57Form::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    LayoutClientArea();
}

void TVG57Form::LayoutClientArea() {
    QWidget* client = centralWidget();
    if (!client || !area_) return;
    // The chart area follows all four edges; the value panel keeps its size at the right.
    const int w = client->width(), h = client->height();
    area_->setGeometry(0, 0, std::max(0, w - TValuePanel::kWidth), h);
    panel_->move(w - TValuePanel::kWidth, 0);
}

void TVG57Form::closeEvent(QCloseEvent* event) {
    if (!closeNow_ && !sessionEnding_ && AnyMeasuring()) {
        // A run is not ended by a stray click. Asked as an action would be, once the running
        // handler has returned; nothing is cut short unless the answer is yes.
        event->ignore();
        if (closeAsked_) return;
        closeAsked_ = true;
        if (!gate_.Busy()) {
            TActionGate::TScope scope(gate_); // actions arriving meanwhile wait for the answer
            const bool yes = AskToStopAndClose();
            closeAsked_ = false;
            // The session may have ended meanwhile, closing the question: no answer is needed.
            if (!yes && !sessionEnding_) return;
            StopForClose();
            event->accept();
            return;
        }
        gate_.Trigger("closeAsk", {}, [this] {
            const bool yes = AskToStopAndClose();
            closeAsked_ = false;
            if (!yes && !sessionEnding_) return;
            closeNow_ = true;
            close();
        });
        return;
    }
    if (closeNow_ || !gate_.Busy()) {
        StopForClose();
        event->accept();
        return;
    }
    // A handler is still waiting lower on the stack: end its wait, and close once it returned.
    event->ignore();
    closePending_ = true;
    Bus.CancelExchanges(kClosing); // never lifted: closing sends nothing more
    MeasureTimer.stop();
    gate_.Trigger("close", {}, [this] {
        closeNow_ = true;
        close();
    });
}

bool TVG57Form::AskToStopAndClose() {
    return !closePending_ && AnyMeasuring() &&
           askQuestion(QStringLiteral("Идут измерения. Остановить и выйти?"));
}

void TVG57Form::StopForClose() {
    Bus.CancelExchanges(kClosing);
    MeasureTimer.stop();
    // As Stop ends a run: nothing more reaches this run's files, which are closed now.
    for (auto& g : gauges_) {
        g->cycle.Shutdown();
        g->archive.Close();
    }
}

void TVG57Form::EndSession() {
    sessionEnding_ = true;
    // An open dialog or question would hold the close until someone answers it: none is left.
    for (int i = 0; i < 16; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this) break;
        modal->close();
    }
    close();
}

} // namespace vg57
