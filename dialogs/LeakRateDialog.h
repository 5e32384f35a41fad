// "Скорость натекания": the leak rate by pressure rise over the readings of an interval. The
// operator states the chamber volume and its uncertainty, the gauge's accuracy, a pass/fail limit
// and a pressure to wait for; the dialog shows every figure, the verdict, dp/dt over time beside
// them, and can keep Q as the baseline for the next test. A thin view of AnalyseLeak.
#pragma once

#include "LeakRate.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vg57 {

class TFloatSpinEdit;
class TSlopePlot;

// What the window keeps from one leak test to the next while the program runs.
struct TLeakSession {
    double volumeLitres = 1.0;
    double volumeUncertaintyPercent = 0;
    double gaugeAccuracyPercent = 30;
    std::optional<TLimit> limit;
    // Q of a test with the leak closed, and whether the next tests subtract it.
    std::optional<double> baselinePaM3s;
    double baselineUncertaintyPaM3s = 0;
    bool subtractBaseline = true;
};

class TLeakRateDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr double kMinVolume = 0.001, kMaxVolume = 100000.0;

    // `readings` must give an analysis (at least kLeakMinReadings, all of a known unit).
    // `archivePath` is named in the report when not empty. `setPoints` in the readings' unit:
    // the lowest non-zero one above the last reading is the pressure waited for at first.
    TLeakRateDialog(TLeakReadings readings, std::string archivePath, TLeakSession session,
                    const std::vector<double>& setPoints = {}, QWidget* parent = nullptr);

    double Volume() const;
    // The inputs as they stand, and the baseline when one was kept.
    TLeakSession Session() const;
    TFloatSpinEdit* VolumeEdit() const { return volume_; }
    TFloatSpinEdit* AccuracyEdit() const { return accuracy_; }
    QLineEdit* LimitEdit() const { return limitValue_; }
    QComboBox* LimitUnitBox() const { return limitUnit_; }
    QLineEdit* ThresholdEdit() const { return threshold_; }
    QPushButton* KeepBaselineButton() const { return keepBaseline_; }
    QCheckBox* SubtractBaselineBox() const { return subtract_; }
    TSlopePlot* SlopePlot() const { return plot_; }
    const TLeakResult& Result() const { return analysis_.result; }
    // "Годен", "Не годен", or empty without a limit.
    QString PassText() const;
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
    // The folder the report is proposed in (made when the report is saved); empty: the archive's.
    QString reportFolder;
    // Shows a failure; default: a message box.
    std::function<void(const QString& text)> showError;

private:
    QWidget* MakeInputs();
    void Recompute();
    void KeepBaseline();
    void SaveReportClicked();
    TLeakResult ShownResult() const;

    TLeakReadings readings_;
    std::string archivePath_;
    TLeakSession session_;
    std::function<double(double)> shownTime_;
    TLeakAnalysis analysis_;
    bool keptHere_ = false; // this interval was kept as the baseline
    TFloatSpinEdit* volume_;
    TFloatSpinEdit* volumeUncertainty_;
    TFloatSpinEdit* accuracy_;
    QLineEdit* limitValue_;
    QComboBox* limitUnit_;
    QLineEdit* threshold_;
    QCheckBox* subtract_;
    QPushButton* keepBaseline_;
    std::vector<std::pair<QLabel*, QLabel*>> figures_;
    std::pair<QLabel*, QLabel*> reason_{};
    QLabel* pass_;
    QLabel* warnings_;
    QLabel* note_;
    TSlopePlot* plot_;
    QPushButton* save_;
};

} // namespace vg57
