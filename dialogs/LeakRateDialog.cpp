#include "LeakRateDialog.h"

#include "FloatSpinEdit.h"
#include "LeakReport.h"
#include "NumberFormat.h"
#include "SlopePlot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include <cmath>

namespace vg57 {

namespace {
QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
QString Text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
// Beside the archive, named after it: "<archive> натекание.txt".
QString ReportName(const std::string& archivePath, const QString& folder) {
    const QFileInfo archive(Text(archivePath));
    const QString name = archivePath.empty() ? QStringLiteral("натекание.txt")
                                             : archive.completeBaseName() + " натекание.txt";
    if (!folder.isEmpty() && QDir().mkpath(folder)) return QDir(folder).filePath(name);
    return archivePath.empty() ? name : archive.absoluteDir().filePath(name);
}
// A positive number typed into a field ("1,5e-6" as well); none for an empty or other text.
std::optional<double> Typed(const QLineEdit* edit) {
    const auto v = ParseTypedNumber(edit->text().trimmed().toStdString());
    if (!v || !(*v > 0) || !std::isfinite(static_cast<double>(*v))) return std::nullopt;
    return static_cast<double>(*v);
}
TFloatSpinEdit* PercentEdit(QWidget* parent, double value) {
    auto* edit = new TFloatSpinEdit(parent);
    edit->setRange(0, 100);
    edit->SetShownDecimals(0, 1);
    edit->setValue(value);
    return edit;
}
} // namespace

TLeakRateDialog::TLeakRateDialog(TLeakReadings readings, std::string archivePath,
                                 TLeakSession session, const std::vector<double>& setPoints,
                                 QWidget* parent)
    : QDialog(parent), readings_(std::move(readings)), archivePath_(std::move(archivePath)),
      session_(std::move(session)) {
    setWindowTitle(QStringLiteral("Скорость натекания"));
    // Compact, so that it finds room beside the chart: the inputs beside dp/dt on top, the
    // figures in two columns below, the reason for the model across the whole width.
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* inputs = new QVBoxLayout;
    inputs->addWidget(MakeInputs());
    pass_ = new QLabel(this);
    QFont big = pass_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() > 0 ? big.pointSizeF() * 1.4 : 14);
    pass_->setFont(big);
    inputs->addWidget(pass_);
    inputs->addStretch();
    top->addLayout(inputs);
    plot_ = new TSlopePlot(this);
    top->addWidget(plot_, 1);
    layout->addLayout(top);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    const auto figures = LeakFigures(TLeakResult{});
    const std::size_t half = figures.size() / 2; // the reason is not in the grid
    int placed = 0;
    for (const auto& figure : figures) {
        auto* name = new QLabel(Text(figure.first) + ':', this);
        auto* shown = new QLabel(this);
        shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (figure.first == kReasonCaption) {
            shown->setWordWrap(true);
            reason_ = {name, shown};
        } else {
            const auto at = static_cast<std::size_t>(placed++);
            const int row = static_cast<int>(at < half ? at : at - half);
            const int column = at < half ? 0 : 2;
            grid->addWidget(name, row, column);
            grid->addWidget(shown, row, column + 1);
        }
        figures_.emplace_back(name, shown);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);
    auto* reasonRow = new QHBoxLayout;
    reasonRow->addWidget(reason_.first, 0, Qt::AlignTop);
    reasonRow->addWidget(reason_.second, 1);
    layout->addLayout(reasonRow);
    warnings_ = new QLabel(this);
    warnings_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    warnings_->setWordWrap(true);
    layout->addWidget(warnings_);
    note_ = new QLabel(this);
    note_->setWordWrap(true);
    layout->addWidget(note_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    keepBaseline_ =
        buttons->addButton(QStringLiteral("Запомнить как фон"), QDialogButtonBox::ActionRole);
    keepBaseline_->setToolTip(QStringLiteral("Q этого интервала (натекатель закрыт, только "
                                             "газовыделение) вычитается из следующих измерений"));
    save_ = buttons->addButton(QStringLiteral("Сохранить отчёт..."), QDialogButtonBox::ActionRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(save_, &QPushButton::clicked, this, &TLeakRateDialog::SaveReportClicked);
    connect(keepBaseline_, &QPushButton::clicked, this, &TLeakRateDialog::KeepBaseline);

    // The pressure waited for: the lowest set point above the last reading.
    const double now = readings_.pressures.empty() ? 0 : readings_.pressures.back();
    std::optional<double> lowest;
    for (double p : setPoints)
        if (p > 0 && p > now && (!lowest || p < *lowest)) lowest = p;
    if (lowest) threshold_->setText(Text(FormatGeneral(*lowest)));
    Recompute();
}

QWidget* TLeakRateDialog::MakeInputs() {
    auto* box = new QWidget(this);
    auto* form = new QFormLayout(box);
    form->setContentsMargins(0, 0, 0, 0);
    volume_ = new TFloatSpinEdit(box);
    volume_->setRange(kMinVolume, kMaxVolume);
    volume_->SetShownDecimals(1, 3);
    volume_->setValue(session_.volumeLitres);
    form->addRow(QStringLiteral("Объём камеры V, л:"), volume_);
    volumeUncertainty_ = PercentEdit(box, session_.volumeUncertaintyPercent);
    form->addRow(QStringLiteral("Погрешность объёма, %:"), volumeUncertainty_);
    accuracy_ = PercentEdit(box, session_.gaugeAccuracyPercent);
    form->addRow(QStringLiteral("Точность датчика, % от показания:"), accuracy_);
    auto* limitRow = new QHBoxLayout;
    limitValue_ = new QLineEdit(box);
    limitValue_->setPlaceholderText(QStringLiteral("нет"));
    limitUnit_ = new QComboBox(box);
    for (ELimitUnit u : kLimitUnits)
        limitUnit_->addItem(Text(RussianLimitUnit(u)), static_cast<int>(u));
    limitUnit_->setCurrentIndex(static_cast<int>(ELimitUnit::mbarLs));
    if (session_.limit) {
        limitValue_->setText(Text(FormatGeneral(session_.limit->value)));
        limitUnit_->setCurrentIndex(static_cast<int>(session_.limit->unit));
    }
    limitRow->addWidget(limitValue_, 1);
    limitRow->addWidget(limitUnit_);
    form->addRow(QStringLiteral("Норма:"), limitRow);
    threshold_ = new QLineEdit(box);
    threshold_->setPlaceholderText(QStringLiteral("нет"));
    form->addRow(QStringLiteral("Ждать давления, %1:").arg(Text(RussianUnitName(readings_.unit))),
                 threshold_);
    subtract_ = new QCheckBox(QStringLiteral("Вычесть фон"), box);
    subtract_->setChecked(session_.subtractBaseline && session_.baselinePaM3s);
    form->addRow(QString(), subtract_);

    connect(volume_, &QDoubleSpinBox::valueChanged, this, &TLeakRateDialog::Recompute);
    connect(volumeUncertainty_, &QDoubleSpinBox::valueChanged, this, &TLeakRateDialog::Recompute);
    connect(accuracy_, &QDoubleSpinBox::valueChanged, this, &TLeakRateDialog::Recompute);
    connect(limitValue_, &QLineEdit::textChanged, this, &TLeakRateDialog::Recompute);
    connect(limitUnit_, &QComboBox::currentIndexChanged, this, &TLeakRateDialog::Recompute);
    connect(threshold_, &QLineEdit::textChanged, this, &TLeakRateDialog::Recompute);
    connect(subtract_, &QCheckBox::toggled, this, &TLeakRateDialog::Recompute);
    return box;
}

double TLeakRateDialog::Volume() const {
    return volume_->value();
}

void TLeakRateDialog::SetShownTime(std::function<double(double)> shown) {
    shownTime_ = std::move(shown);
    Recompute();
}

TLeakResult TLeakRateDialog::ShownResult() const {
    TLeakResult r = analysis_.result;
    if (shownTime_) {
        r.start = shownTime_(r.start);
        r.end = shownTime_(r.end);
    }
    return r;
}

void TLeakRateDialog::Recompute() {
    session_.volumeLitres = Volume();
    session_.volumeUncertaintyPercent = volumeUncertainty_->value();
    session_.gaugeAccuracyPercent = accuracy_->value();
    session_.subtractBaseline = subtract_->isChecked();
    const auto limit = Typed(limitValue_);
    session_.limit.reset();
    if (limit)
        session_.limit = TLimit{*limit, static_cast<ELimitUnit>(limitUnit_->currentData().toInt())};
    TLeakOptions o;
    o.gaugeAccuracyPercent = session_.gaugeAccuracyPercent;
    o.volumeUncertaintyPercent = session_.volumeUncertaintyPercent;
    o.limit = session_.limit;
    if (session_.subtractBaseline && session_.baselinePaM3s) {
        o.baselinePaM3s = session_.baselinePaM3s;
        o.baselineUncertaintyPaM3s = session_.baselineUncertaintyPaM3s;
    }
    o.threshold = Typed(threshold_);
    limitValue_->setStyleSheet(limit || limitValue_->text().trimmed().isEmpty()
                                   ? QString()
                                   : QStringLiteral("color: #b00000"));
    threshold_->setStyleSheet(o.threshold || threshold_->text().trimmed().isEmpty()
                                  ? QString()
                                  : QStringLiteral("color: #b00000"));
    subtract_->setEnabled(session_.baselinePaM3s.has_value());
    subtract_->setText(session_.baselinePaM3s
                           ? QStringLiteral("Вычесть фон %1 Па·м³/с")
                                 .arg(Text(FigureText(*session_.baselinePaM3s, 2)))
                           : QStringLiteral("Вычесть фон (не запомнен)"));

    analysis_ = AnalyseLeak(readings_, Volume(), o);
    const TLeakResult r = ShownResult();
    const auto figures = LeakFigures(r);
    for (std::size_t i = 0; i < figures.size() && i < figures_.size(); ++i) {
        figures_[i].first->setText(Text(figures[i].first) + ':');
        figures_[i].second->setText(Text(figures[i].second));
    }
    QStringList warnings;
    for (const std::string& w : LeakWarnings(r))
        warnings << Text(w);
    warnings_->setText(warnings.join('\n'));
    warnings_->setVisible(!warnings.isEmpty());
    note_->setText(readings_.converted
                       ? QStringLiteral("Показания в других единицах пересчитаны в %1.")
                             .arg(Text(RussianUnitName(readings_.unit)))
                       : QString());
    note_->setVisible(readings_.converted);
    pass_->setText(PassText());
    pass_->setStyleSheet(r.pass == true ? QStringLiteral("color: #006e00")
                                        : QStringLiteral("color: #b00000"));
    pass_->setVisible(!PassText().isEmpty());
    keepBaseline_->setEnabled(r.rising && r.resolved);
    plot_->Show(r);
}

void TLeakRateDialog::KeepBaseline() {
    const TLeakResult& r = analysis_.result;
    const double siPerUnit = PascalsPer(r.unit) * kCubicMetresPerLitre;
    session_.baselinePaM3s = r.leakRatePaM3s;
    session_.baselineUncertaintyPaM3s = r.leakRateUncertainty * siPerUnit;
    // Kept for the next test: this interval is the baseline itself.
    subtract_->blockSignals(true);
    subtract_->setChecked(false);
    subtract_->blockSignals(false);
    Recompute();
    keptHere_ = true;
}

TLeakSession TLeakRateDialog::Session() const {
    TLeakSession s = session_;
    if (keptHere_) s.subtractBaseline = true; // the next tests subtract what was kept here
    return s;
}

QString TLeakRateDialog::PassText() const {
    const auto& pass = analysis_.result.pass;
    if (!pass) return {};
    return *pass ? QStringLiteral("Годен") : QStringLiteral("Не годен");
}

QString TLeakRateDialog::ShownText() const {
    QStringList lines;
    for (const auto& [name, value] : figures_)
        lines << name->text() + ' ' + value->text();
    if (!warnings_->text().isEmpty()) lines << warnings_->text();
    return lines.join('\n');
}

QString TLeakRateDialog::SaveReport(const QString& path) const {
    QSaveFile file(path);
    const QByteArray text = QByteArray::fromStdString(LeakReportText(ShownResult(), archivePath_));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return path + QStringLiteral(": ") + file.errorString();
    return {};
}

void TLeakRateDialog::SaveReportClicked() {
    const QString path =
        chooseReportFile
            ? chooseReportFile()
            : QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить отчёт"),
                                           ReportName(archivePath_, reportFolder),
                                           QStringLiteral("Текст (*.txt);;Все файлы (*)"));
    if (path.isEmpty()) return;
    const QString problem = SaveReport(path);
    if (problem.isEmpty()) return;
    if (showError)
        showError(problem);
    else
        QMessageBox::warning(this, QStringLiteral("Отчёт не сохранён"), problem);
}

} // namespace vg57
