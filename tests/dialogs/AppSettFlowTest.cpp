// The program settings action against a real chart model, chart area and timer, with the dialog
// driven through its widgets (an exec hook stands for the modal loop, except in one test).
#include "AppSettFlow.h"
#include "AppSett.h"
#include "ChartArea.h"
#include "ChartModel.h"
#include "DateTime.h"
#include "FloatSpinEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace vg57;

namespace {

const double kNow = MakeDateTime(2026, 12, 7, 10, 0, 0);

enum class TEnd { Ok, CancelButton, Escape, CloseButton, DestroyedWhileShown };

// What the operator does in the dialog; -1 leaves a control as the dialog showed it.
struct TChoice {
    const char* typed = nullptr;
    int scale = -1;
    int autoScale = -1;
    int setPoints = -1;
    TEnd end = TEnd::Ok;
};

// What the dialog showed when it opened, and whether it still exists.
struct TShown {
    QString frequency;
    int scale = -2;
    bool autoScale = false;
    bool setPoints = false;
    QPointer<TAppSettingsForm> form;
};

TAppSettingsExec Drive(TChoice c, TShown* shown) {
    return [c, shown](TAppSettingsForm& form) {
        shown->frequency = form.DevFrequency->text();
        shown->scale = form.ScaleTypeIndex();
        shown->autoScale = form.AutoSizeY->isChecked();
        shown->setPoints = form.ShowSetPoints->isChecked();
        shown->form = &form;
        form.show();
        if (c.typed) {
            form.DevFrequency->selectAll();
            QTest::keyClicks(form.DevFrequency, QString::fromLatin1(c.typed));
        }
        if (c.scale == TAppSettingsForm::kLinear) form.ScaleDecimal->click();
        if (c.scale == TAppSettingsForm::kLogarithmic) form.ScaleLog->click();
        if (c.autoScale >= 0) form.AutoSizeY->setChecked(c.autoScale == 1);
        if (c.setPoints >= 0) form.ShowSetPoints->setChecked(c.setPoints == 1);
        switch (c.end) {
        case TEnd::Ok:
            form.BtnOk->click();
            break;
        case TEnd::CancelButton:
            form.btnCancel->click();
            break;
        case TEnd::Escape:
            QTest::keyClick(form.DevFrequency, Qt::Key_Escape);
            break;
        case TEnd::CloseButton:
            form.close();
            break;
        case TEnd::DestroyedWhileShown:
            delete &form;
            return int(QDialog::Accepted);
        }
        return form.result();
    };
}

struct Flow : ::testing::Test {
    Flow() : model(kNow), area(model) {
        model.FormCreate(kNow);
        area.show();
        timer.setInterval(500);
    }
    TShown Run(TChoice c) {
        TShown shown;
        ActionProgramSettingsExecute(&area, timer, model, area, Drive(c, &shown));
        EXPECT_TRUE(shown.form.isNull()) << "the dialog outlived its action";
        return shown;
    }
    void AddReadings(std::initializer_list<double> pressures) {
        double t = kNow;
        for (double p : pressures)
            model.AddMeasurementPoint(t += kOneSecond, p);
    }
    bool YPanelEnabled() const { return area.YPanel()->isEnabled(); }

    TChartModel model;
    TChartArea area;
    QTimer timer;
};

} // namespace

TEST_F(Flow, theDefaultsShowAndOkStoresTheIntervalAsTypedRoundedDownToMilliseconds) {
    TShown first = Run({});
    EXPECT_EQ(first.frequency, "0.5");
    EXPECT_EQ(first.scale, TAppSettingsForm::kLinear);
    EXPECT_TRUE(first.autoScale);
    EXPECT_EQ(timer.interval(), 500);

    const struct {
        const char* typed;
        int ms;
        const char* reopens; // the interval in force, as the dialog shows it next time
    } rows[] = {
        {"2.5", 2500, "2.5"},        {"1", 1000, "1.0"},          {"0.75", 750, "0.75"},
        {"4.35", 4350, "4.35"},      {"0.7509", 750, "0.75"},     {"1,5", 1500, "1.5"},
        {"3600", 3600000, "3600.0"}, {"9999", 3600000, "3600.0"}, {"0", 500, "0.5"},
    };
    for (const auto& r : rows) {
        Run({.typed = r.typed});
        EXPECT_EQ(timer.interval(), r.ms) << r.typed;
        EXPECT_EQ(Run({}).frequency, r.reopens) << r.typed;
    }
}

TEST_F(Flow, aRunningTimerRestartsOnlyWhenTheIntervalChanges) {
    using namespace std::chrono_literals;
    timer.setInterval(1000);
    timer.start();
    std::this_thread::sleep_for(500ms);
    Run({.typed = "1"});
    EXPECT_TRUE(timer.isActive());
    EXPECT_LT(timer.remainingTime(), 800) << "an unchanged period was restarted";

    Run({.typed = "2"});
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 2000);
    EXPECT_GT(timer.remainingTime(), 1500) << "a changed period did not restart at once";

    timer.stop();
    Run({.typed = "3"});
    EXPECT_FALSE(timer.isActive()) << "a stopped measurement was started";
    EXPECT_EQ(timer.interval(), 3000);
}

TEST_F(Flow, theLogarithmicScaleIsAppliedAndShownWhenReopened) {
    Run({.scale = TAppSettingsForm::kLogarithmic});
    EXPECT_TRUE(model.PressureAxis().Logarithmic());
    EXPECT_EQ(Run({}).scale, TAppSettingsForm::kLogarithmic);
    EXPECT_TRUE(model.PressureAxis().Logarithmic()) << "OK with nothing changed keeps it";
    Run({.scale = TAppSettingsForm::kLinear});
    EXPECT_FALSE(model.PressureAxis().Logarithmic());
    EXPECT_EQ(Run({}).scale, TAppSettingsForm::kLinear);
}

TEST_F(Flow, automaticScalingOffOnAndOffAgainMovesTheSliderAndTheAxisTogether) {
    AddReadings({10, 20, 15});
    ASSERT_FALSE(YPanelEnabled()) << "greyed at start-up: the axis scales itself";
    struct Row {
        bool on;
        int sliderTop;     // where YPanel is when OK is pressed
        double pmin, pmax; // the slider's range then: R * (H - T - h) / H, R * (H - T) / H
    } rows[] = {
        {false, 0, 74400, 120000}, // the design geometry
        {true, 0, 9.5, 20.5},      // the readings' range with 5 % of it on each side
        {false, 0, 74400, 120000}, // off again, the slider unmoved: the axis leaves the data
        {true, 0, 9.5, 20.5},
        {false, 100, 44400, 90000}, // the slider moved while it was idle: its new range
        {false, 100, 44400, 90000}, // OK with nothing changed re-applies the same range
    };
    bool inForce = true;
    for (const Row& r : rows) {
        area.YPanel()->move(area.YPanel()->x(), r.sliderTop);
        EXPECT_EQ(Run({.autoScale = r.on ? 1 : 0}).autoScale, inForce)
            << "the dialog shows the setting in force";
        inForce = r.on;
        EXPECT_EQ(model.AutoScaleY(), r.on);
        EXPECT_EQ(YPanelEnabled(), !r.on);
        EXPECT_EQ(model.PressureAxis().Automatic(), r.on);
        EXPECT_NEAR(model.PressureAxis().Min(), r.pmin, 1e-6 * r.pmax);
        EXPECT_NEAR(model.PressureAxis().Max(), r.pmax, 1e-6 * r.pmax);
        if (!r.on) {
            EXPECT_DOUBLE_EQ(model.PressureAxis().Min(), model.Pmin());
            EXPECT_DOUBLE_EQ(model.PressureAxis().Max(), model.Pmax());
        }
    }
}

TEST_F(Flow, theSetPointLinesAreShownAtStartAndFollowTheCheckBox) {
    EXPECT_TRUE(Run({}).setPoints);
    EXPECT_TRUE(area.SetPoints()->Shown());
    Run({.setPoints = 0});
    EXPECT_FALSE(area.SetPoints()->Shown());
    EXPECT_FALSE(Run({.setPoints = 1, .end = TEnd::CancelButton}).setPoints);
    EXPECT_FALSE(area.SetPoints()->Shown());
    Run({.setPoints = 1});
    EXPECT_TRUE(area.SetPoints()->Shown());
}

TEST_F(Flow, cancellingInAnyWayChangesNothing) {
    AddReadings({10, 20});
    for (TEnd end :
         {TEnd::CancelButton, TEnd::Escape, TEnd::CloseButton, TEnd::DestroyedWhileShown}) {
        Run({.typed = "7", .scale = 1, .autoScale = 0, .end = end});
        EXPECT_EQ(timer.interval(), 500) << int(end);
        EXPECT_FALSE(model.PressureAxis().Logarithmic()) << int(end);
        EXPECT_TRUE(model.AutoScaleY()) << int(end);
        EXPECT_TRUE(model.PressureAxis().Automatic()) << int(end);
        EXPECT_DOUBLE_EQ(model.PressureAxis().Min(), 9.5) << int(end);
    }
}

TEST_F(Flow, aRefusedLogarithmicScaleKeepsTheNewIntervalAndSkipsTheRest) {
    AddReadings({-5, 20}); // the automatic range now reaches below zero
    TShown shown;
    try {
        ActionProgramSettingsExecute(&area, timer, model, area,
                                     Drive({.typed = "2.5", .scale = 1, .autoScale = 0}, &shown));
        ADD_FAILURE() << "the refusal did not reach the caller";
    } catch (const EChartAxisError& e) {
        EXPECT_STREQ(e.what(), "Logarithmic Axis Min and Max values should be >= 0");
    }
    EXPECT_TRUE(shown.form.isNull()) << "the dialog outlived the error";
    EXPECT_EQ(timer.interval(), 2500);
    EXPECT_FALSE(model.PressureAxis().Logarithmic());
    EXPECT_TRUE(model.AutoScaleY());
    EXPECT_TRUE(model.PressureAxis().Automatic());
    EXPECT_DOUBLE_EQ(model.PressureAxis().Min(), -5 - 0.05 * 25);
    EXPECT_FALSE(YPanelEnabled()) << "YPanel was touched on the error path";
}

TEST_F(Flow, theRealModalDialogTakesEnterInTheFieldAsOk) {
    QTimer operatorHand;
    operatorHand.setInterval(10);
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        auto* form = qobject_cast<TAppSettingsForm*>(QApplication::activeModalWidget());
        if (!form) return;
        operatorHand.stop();
        form->DevFrequency->selectAll();
        QTest::keyClicks(form->DevFrequency, "1.5");
        QTest::keyClick(form->DevFrequency, Qt::Key_Enter);
    });
    operatorHand.start();
    ActionProgramSettingsExecute(&area, timer, model, area);
    EXPECT_EQ(timer.interval(), 1500);
    EXPECT_TRUE(area.findChildren<TAppSettingsForm*>().isEmpty());
}
