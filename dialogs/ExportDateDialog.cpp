#include "ExportDateDialog.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vg57 {

TExportDateDialog::TExportDateDialog(std::optional<QDate> proposed, const QString& chosenGauge,
                                     QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Экспорт в CSV"));
    auto* layout = new QVBoxLayout(this);
    if (!chosenGauge.isEmpty()) {
        // The chart's tools act on the chosen gauge: that stays the default.
        auto* box = new QGroupBox(QStringLiteral("Показания"), this);
        auto* choice = new QVBoxLayout(box);
        chosen_ =
            new QRadioButton(QStringLiteral("только %1 (прибор на панели)").arg(chosenGauge), box);
        all_ =
            new QRadioButton(QStringLiteral("всех приборов в одном файле (столбец address)"), box);
        chosen_->setChecked(true);
        choice->addWidget(chosen_);
        choice->addWidget(all_);
        layout->addWidget(box);
    }
    if (proposed) {
        auto* label =
            new QLabel(QStringLiteral("В файле нет даты показаний. Дата первой строки:"), this);
        label->setWordWrap(true);
        layout->addWidget(label);
        edit_ = new QDateEdit(*proposed, this);
        edit_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        edit_->setCalendarPopup(true);
        layout->addWidget(edit_);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QDate TExportDateDialog::Date() const {
    return edit_ ? edit_->date() : QDate();
}

bool TExportDateDialog::AllGauges() const {
    return all_ && all_->isChecked();
}

} // namespace vg57
