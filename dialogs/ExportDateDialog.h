// The CSV export's questions before its file is chosen: with several gauges on the chart, whether
// the file holds the chosen gauge's readings or every gauge's; for readings kept as times of day
// (a loaded file whose name carries no date), the date they are exported with.
#pragma once

#include <QDate>
#include <QDialog>

#include <optional>

class QDateEdit;
class QRadioButton;

namespace vg57 {

class TExportDateDialog : public QDialog {
    Q_OBJECT
public:
    // `proposed`: the date to propose (the file's modification date), none when the readings
    // carry their own. `chosenGauge`: the chosen gauge's name when the chart holds several
    // gauges, else empty (no choice).
    TExportDateDialog(std::optional<QDate> proposed, const QString& chosenGauge,
                      QWidget* parent = nullptr);
    explicit TExportDateDialog(const QDate& proposed, QWidget* parent = nullptr)
        : TExportDateDialog(std::optional<QDate>(proposed), QString(), parent) {}
    QDate Date() const;
    // Every gauge's readings into one file, with an address column.
    bool AllGauges() const;
    QDateEdit* DateEdit() const { return edit_; }               // null without the date
    QRadioButton* ChosenGaugeButton() const { return chosen_; } // null without the choice
    QRadioButton* AllGaugesButton() const { return all_; }

private:
    QDateEdit* edit_ = nullptr;
    QRadioButton* chosen_ = nullptr;
    QRadioButton* all_ = nullptr;
};

} // namespace vg57
