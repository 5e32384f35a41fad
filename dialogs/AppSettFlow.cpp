#include "AppSettFlow.h"

#include "AppSett.h"
#include "ChartArea.h"
#include "ChartModel.h"
#include "FloatSpinEdit.h"

#include <QCheckBox>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>

#include <cmath>

namespace vg57 {

int PollingIntervalMs(double seconds) {
    // A nanosecond of slack absorbs the binary rounding of the product, far below a millisecond.
    return static_cast<int>(std::floor(seconds * 1000.0 + 1e-6));
}

void ActionProgramSettingsExecute(QWidget* owner, QTimer& measureTimer, TChartModel& chart,
                                  TChartArea& area, const TAppSettingsExec& exec) {
    // Freed when the action ends, however it ends; the guard copes with the dialog having been
    // destroyed while it was shown (with its owner, say).
    QPointer<TAppSettingsForm> form = new TAppSettingsForm(owner);
    const auto destroy = qScopeGuard([&form] { delete form.data(); });
    form->DevFrequency->setValue(measureTimer.interval() / 1000.0);
    form->AutoSizeY->setChecked(chart.AutoScaleY());
    form->ShowSetPoints->setChecked(area.SetPoints()->Shown());
    form->SetScaleTypeIndex(chart.PressureAxis().Logarithmic() ? TAppSettingsForm::kLogarithmic
                                                               : TAppSettingsForm::kLinear);

    const int result = exec ? exec(*form) : form->exec();
    if (!form || result != QDialog::Accepted) return;

    // QTimer::setInterval restarts a running timer: leave an unchanged period alone.
    const int interval = PollingIntervalMs(form->DevFrequency->value());
    if (interval != measureTimer.interval()) measureTimer.setInterval(interval);

    chart.SetLogarithmic(form->ScaleTypeIndex() == TAppSettingsForm::kLogarithmic);
    // Sets AutoScaleY and the axis, enables YPanel exactly when it is off and then applies the
    // slider's range.
    area.SetAutoScale(form->AutoSizeY->isChecked());
    area.SetPoints()->SetShown(form->ShowSetPoints->isChecked());
}

} // namespace vg57
