#include "ExportDateDialog.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace vg57 {

TExportDateDialog::TExportDateDialog(const QDate& proposed, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Экспорт в CSV"));
    auto* layout = new QVBoxLayout(this);
    auto* label =
        new QLabel(QStringLiteral("В файле нет даты показаний. Дата первой строки:"), this);
    label->setWordWrap(true);
    layout->addWidget(label);
    edit_ = new QDateEdit(proposed, this);
    edit_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit_->setCalendarPopup(true);
    layout->addWidget(edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QDate TExportDateDialog::Date() const {
    return edit_->date();
}

} // namespace vg57
