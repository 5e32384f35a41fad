// "Скорость натекания": the leak rate by pressure rise over the readings of an interval, with
// the chamber volume as the one input. A thin view of TLeakReadings and AnalyseLeak.
#pragma once

#include "LeakRate.h"

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace vg57 {

class TFloatSpinEdit;

class TLeakRateDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr double kMinVolume = 0.001, kMaxVolume = 100000.0;

    // `readings` must give an analysis (at least kLeakMinReadings, all of a known unit).
    // `archivePath` is named in the report when not empty.
    TLeakRateDialog(TLeakReadings readings, std::string archivePath, double volumeLitres,
                    QWidget* parent = nullptr);

    double Volume() const;
    TFloatSpinEdit* VolumeEdit() const { return volume_; }
    const TLeakResult& Result() const { return analysis_.result; }
    // The figures as shown, "caption: value" a line, then the warnings.
    QString ShownText() const;
    QPushButton* SaveReportButton() const { return save_; }
    // The wall-clock date-time a reading's time shows (readings kept as instants); shown as
    // they are by default.
    void SetShownTime(std::function<double(double)> shown);

    // Writes the report; empty, or the reason naming the file.
    QString SaveReport(const QString& path) const;
    // Asks for the report's file; empty when cancelled. Default: a file dialog.
    std::function<QString()> chooseReportFile;
    // Shows a failure; default: a message box.
    std::function<void(const QString& text)> showError;

private:
    void Recompute();
    void SaveReportClicked();
    TLeakResult ShownResult() const;

    TLeakReadings readings_;
    std::string archivePath_;
    std::function<double(double)> shownTime_;
    TLeakAnalysis analysis_;
    TFloatSpinEdit* volume_;
    std::vector<std::pair<QLabel*, QLabel*>> figures_;
    QLabel* warnings_;
    QLabel* note_;
    QPushButton* save_;
};

} // namespace vg57
