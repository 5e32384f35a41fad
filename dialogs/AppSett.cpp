#include "AppSett.h"

#include "FloatSpinEdit.h"
#include "MessageBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vg57 {

TAppSettingsForm::TAppSettingsForm(QWidget* owner) : QDialog(owner, kDialogFrame) {
    setWindowTitle(QStringLiteral("Настройки программы"));
    setFixedSize(kClientWidth, kClientHeight);

    ScaleType = new QGroupBox(QStringLiteral("Вид шкалы"), this);
    ScaleType->setObjectName(QStringLiteral("ScaleType"));
    ScaleDecimal = new QRadioButton(QStringLiteral("Десятичная шкала"), ScaleType);
    ScaleLog = new QRadioButton(QStringLiteral("Логарифмическая"), ScaleType);
    scaleButtons_ = new QButtonGroup(this);
    scaleButtons_->addButton(ScaleDecimal, kLinear);
    scaleButtons_->addButton(ScaleLog, kLogarithmic);
    auto* scaleLayout = new QVBoxLayout(ScaleType);
    scaleLayout->addWidget(ScaleDecimal);
    scaleLayout->addWidget(ScaleLog);
    ScaleDecimal->setChecked(true);

    AutoSizeY = new QCheckBox(QStringLiteral("Автоподбор масштаба"), this);
    AutoSizeY->setObjectName(QStringLiteral("AutoSizeY"));

    ShowSetPoints = new QCheckBox(QStringLiteral("Показывать уставки на графике"), this);
    ShowSetPoints->setObjectName(QStringLiteral("ShowSetPoints"));
    ShowSetPoints->setChecked(true);

    DevFrequencyLabel = new QLabel(QStringLiteral("Частота опроса прибора, с"), this);
    DevFrequency = new TFloatSpinEdit(this);
    DevFrequency->setObjectName(QStringLiteral("DevFrequency"));
    DevFrequency->setRange(0.5, 3600.0);
    DevFrequency->setSingleStep(0.5);
    // The value in force, as exact as the milliseconds it stands for: 0.75, 0.5, 1.0.
    DevFrequency->SetShownDecimals(1, 3);
    DevFrequency->setValue(0.5);
    DevFrequencyLabel->setBuddy(DevFrequency);
    auto* frequencyRow = new QHBoxLayout;
    frequencyRow->addWidget(DevFrequencyLabel);
    frequencyRow->addWidget(DevFrequency, 1);

    BtnOk = new QPushButton(QStringLiteral("Ok"), this);
    BtnOk->setObjectName(QStringLiteral("BtnOk"));
    BtnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Escape reaches QDialog::reject, the same as this button.
    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(BtnOk);
    buttonRow->addWidget(btnCancel);
    buttonRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ScaleType);
    layout->addWidget(AutoSizeY);
    layout->addWidget(ShowSetPoints);
    layout->addLayout(frequencyRow);
    layout->addStretch(1);
    layout->addLayout(buttonRow);
}

int TAppSettingsForm::ScaleTypeIndex() const {
    return scaleButtons_->checkedId();
}

void TAppSettingsForm::SetScaleTypeIndex(int index) {
    if (QAbstractButton* b = scaleButtons_->button(index)) b->setChecked(true);
}

} // namespace vg57
