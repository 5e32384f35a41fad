#include "LeakRateDialog.h"

#include "FloatSpinEdit.h"
#include "LeakReport.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace vg57 {

namespace {
QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
// Beside the archive, named after it: "<archive> натекание.txt".
QString ReportName(const std::string& archivePath) {
    if (archivePath.empty()) return QStringLiteral("натекание.txt");
    const QFileInfo archive(Text(archivePath));
    return archive.absoluteDir().filePath(archive.completeBaseName() + " натекание.txt");
}

} // namespace

TLeakRateDialog::TLeakRateDialog(TLeakReadings readings, std::string archivePath,
                                 double volumeLitres, QWidget* parent)
    : QDialog(parent), readings_(std::move(readings)), archivePath_(std::move(archivePath)) {
    setWindowTitle(QStringLiteral("Скорость натекания"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    volume_ = new TFloatSpinEdit(this);
    volume_->setRange(kMinVolume, kMaxVolume);
    volume_->SetShownDecimals(1, 3);
    volume_->setValue(volumeLitres);
    form->addRow(QStringLiteral("Объём камеры V, л:"), volume_);
    // One row per figure, captions fixed, values filled by Recompute.
    for (const auto& [caption, value] : LeakFigures(TLeakResult{})) {
        auto* name = new QLabel(Text(caption) + ':', this);
        auto* shown = new QLabel(this);
        shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(name, shown);
        figures_.emplace_back(name, shown);
    }
    layout->addLayout(form);
    warnings_ = new QLabel(this);
    warnings_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    warnings_->setWordWrap(true);
    layout->addWidget(warnings_);
    note_ = new QLabel(this);
    note_->setWordWrap(true);
    layout->addWidget(note_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    save_ = buttons->addButton(QStringLiteral("Сохранить отчёт..."), QDialogButtonBox::ActionRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(save_, &QPushButton::clicked, this, &TLeakRateDialog::SaveReportClicked);
    connect(volume_, &QDoubleSpinBox::valueChanged, this, &TLeakRateDialog::Recompute);
    Recompute();
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
    analysis_ = AnalyseLeak(readings_, Volume());
    const auto figures = LeakFigures(ShownResult());
    for (std::size_t i = 0; i < figures.size() && i < figures_.size(); ++i)
        figures_[i].second->setText(Text(figures[i].second));
    QStringList warnings;
    for (const std::string& w : LeakWarnings(analysis_.result))
        warnings << Text(w);
    warnings_->setText(warnings.join('\n'));
    warnings_->setVisible(!warnings.isEmpty());
    note_->setText(readings_.converted
                       ? QStringLiteral("Показания в других единицах пересчитаны в %1.")
                             .arg(Text(std::string(RussianUnitName(readings_.unit))))
                       : QString());
    note_->setVisible(readings_.converted);
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
                                           ReportName(archivePath_),
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
