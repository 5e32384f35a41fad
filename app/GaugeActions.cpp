#include "GaugeActions.h"

#include "Codec.h"
#include "GaugeLink.h"
#include "NumberFormat.h"
#include "PressureUnit.h"
#include "SPSetup.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QScopeGuard>

#include <algorithm>
#include <charconv>

namespace vg57 {

EUnitCodeNotNumber::EUnitCodeNotNumber(const std::string& code)
    : std::runtime_error("Код единицы измерения \"" + code + "\" от прибора не является числом") {}

namespace {

// A reading in the gauge's own spelling: 2.9E-4, 1.0E+5 (it carries two digits).
std::string GaugeSpelling(long double value) {
    if (!IsWritableSetPoint(value)) return FormatGeneral(value);
    std::string text = SetPointText(EncodeNumber(value));
    std::replace(text.begin(), text.end(), 'e', 'E');
    return text;
}

// `farFrom` warns first when the fresh reading, in pascals, is far from where the calibration
// belongs.
bool AskWithFreshReading(TGaugeLink& link, const TConfirm& confirm, const std::string& question,
                         bool (*far)(double pascals), const char* farFrom) {
    std::string pressure = "нет данных", warning;
    if (link.ReadMeasurement()) {
        pressure = FormatGeneral(link.CurrentPressure);
        const std::string unit = UnitName(link.UnitCode);
        if (!unit.empty()) pressure += " " + unit;
        const double perUnit = PascalsPerUnit(link.UnitCode);
        if (perUnit > 0 && far(static_cast<double>(link.CurrentPressure) * perUnit))
            warning = "Давление " + GaugeSpelling(link.CurrentPressure) +
                      (unit.empty() ? "" : " ") + unit + " далеко от " + farFrom + ". ";
    }
    return confirm && confirm(warning + question + " Текущее давление: " + pressure);
}

} // namespace

void ActionCalibrAtmExecute(TGaugeLink& link, const TConfirm& confirm, const std::string& gauge) {
    if (AskWithFreshReading(
            link, confirm, "Выполнить калибровку по атмосферному давлению" + gauge + "?",
            [](double pa) { return pa < 1e4; }, "атмосферного"))
        link.CalibrateAtmosphere();
}

void ActionCalibrZeroExecute(TGaugeLink& link, const TConfirm& confirm, const std::string& gauge) {
    if (AskWithFreshReading(
            link, confirm, "Выполнить калибровку нуля" + gauge + "?",
            [](double pa) { return pa > 1e-1; }, "нуля"))
        link.CalibrateZero();
}

int UnitIndexOf(const std::string& unitCode) {
    int code = 0;
    const char* first = unitCode.data();
    const char* last = first + unitCode.size();
    const auto [end, ec] = std::from_chars(first, last, code);
    if (ec != std::errc() || end != last || first == last) throw EUnitCodeNotNumber(unitCode);
    return code >= 1 && code <= 3 ? code - 1 : -1;
}

namespace {

// Both are read, so the panel shows what the gauge holds now, also after a write failed midway
// or the set points could not be read.
void ReadBack(TGaugeLink& link) {
    try {
        link.ReadSetPoints();
    } catch (...) {
        // The unit is read all the same; the set points' error is the one reported.
        try {
            link.ReadUnit();
        } catch (...) {
        }
        throw;
    }
    link.ReadUnit();
}

} // namespace

void ActionDeviceSettingsExecute(QWidget* owner, TGaugeLink& link, const TSPSetupExec& exec) {
    if (!link.ReadSetPoints() || !link.ReadUnit()) return;
    const int unitIndex = UnitIndexOf(link.UnitCode);

    // Owned by the window, yet freed here on every path; the guard copes with the window having
    // taken it down first.
    QPointer<TSPSetupForm> form = new TSPSetupForm(owner);
    const auto destroy = qScopeGuard([&form] { delete form.data(); });
    const auto fields = form->Fields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        fields[i]->setText(QString::fromStdString(FormatGeneral(link.SetPoints[i])));
    form->SetGaugeUnit(unitIndex);

    const int result = exec ? exec(*form) : form->exec();
    if (!form || result != QDialog::Accepted) return;

    const auto texts = form->Texts();
    // The dialog accepts only good texts; checked again so that nothing else can reach the gauge.
    if (const std::string error = CheckSetPointTexts(texts); !error.empty())
        throw std::runtime_error(error);
    std::array<long double, kSetPointCount> setPoints{};
    for (std::size_t i = 0; i < texts.size(); ++i)
        setPoints[i] = *ParseTypedNumber(texts[i]);
    // An unknown unit read from the gauge leaves the list without a choice: unless the operator
    // picks one, the gauge keeps its unit rather than being sent a code it doesn't know.
    const int chosen = form->UnitMeasure->currentIndex();
    // The unit goes first and the set points, in that unit, after it: whatever the gauge does
    // with its thresholds when its unit changes, they end up as the operator saw them.
    bool unitTaken = false;
    {
        // WriteUnit sends UnitCode, so it is set first; a "W1" the gauge did not take must not
        // leave behind a unit the gauge never had, even when nothing can be read back.
        const std::string unitHeld = link.UnitCode;
        const auto keepHeldUnit = qScopeGuard([&] {
            if (!unitTaken) link.UnitCode = unitHeld;
        });
        if (chosen >= 0) {
            link.UnitCode = "000" + std::to_string(chosen + 1); // "0001" ... "0003"
            unitTaken = link.WriteUnit();
        }
    }
    // Values meant for a unit the gauge did not take would land 100 or 133 times off.
    if (chosen < 0 || chosen == unitIndex || unitTaken) {
        link.SetPoints = setPoints;
        link.WriteSetPoints();
    }
    ReadBack(link);
}

} // namespace vg57
