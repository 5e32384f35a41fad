// The program settings dialog: how often the gauge is polled and how the chart's pressure axis
// is scaled (linear or logarithmic, automatic or from the pressure slider), and whether the
// relay set points are drawn on the chart. It only holds the choices;
// ActionProgramSettingsExecute fills it and applies them.
#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace vg57 {

class TFloatSpinEdit;

class TAppSettingsForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 287, kClientHeight = 262;
    // Entries of the scale kind group.
    static constexpr int kLinear = 0, kLogarithmic = 1;

    explicit TAppSettingsForm(QWidget* owner = nullptr);

    // The selected entry of ScaleType (kLinear or kLogarithmic); -1 with none.
    int ScaleTypeIndex() const;
    void SetScaleTypeIndex(int index);

    QGroupBox* ScaleType;
    QRadioButton* ScaleDecimal;
    QRadioButton* ScaleLog;
    QCheckBox* AutoSizeY;
    QCheckBox* ShowSetPoints;
    QLabel* DevFrequencyLabel;
    TFloatSpinEdit* DevFrequency;
    QPushButton* BtnOk;
    QPushButton* btnCancel;

private:
    QButtonGroup* scaleButtons_;
};

} // namespace vg57
