// The value panel at the window's right edge: the gauge's picture, the distributor's logo and
// link, the current pressure in large type, the six set points, the unit, the short error label
// and the transfer indicator. Fixed size; the window keeps it at its top-right corner.
#pragma once

#include "GaugeLink.h"

#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QLabel;

namespace vg57 {

class TGaugeTable;

class TValuePanel : public QWidget {
    Q_OBJECT
public:
    // Where the panel's left edge and top lie in the window's design (client coordinates); the
    // controls keep their design places relative to it.
    static constexpr int kDesignLeft = 673, kDesignTop = 60;
    static constexpr int kWidth = 292, kHeight = 440;
    static constexpr const char* kNoData = "<Нет данных>";
    static constexpr const char* kNoLink = "Нет связи";
    static constexpr const char* kCaption = "Текущее давление";

    explicit TValuePanel(QWidget* parent = nullptr);

    QLabel* Image1() const { return image1_; }
    QLabel* Image2() const { return image2_; }
    QLabel* StaticText1() const { return staticText1_; }
    QLabel* PressureText() const { return pressureText_; }
    QLabel* Units() const { return units_; }
    QLabel* StaticTextTest() const { return staticTextTest_; }
    QLabel* SetPoint(int index) const { return setPoints_[index]; }
    QWidget* TransferIndicator() const { return transferIndicator_; }

    // A value the gauge just gave: shown in the normal look.
    void SetPressureText(const QString& text);
    // No gauge has answered in this run: "Нет связи" in grey, never a number.
    void ShowNoLink();
    // The value shown is `ageSeconds` old: grey, with its age in the caption.
    void ShowStale(long long ageSeconds);
    // Measuring has stopped: the last value stays, grey, and the caption says why.
    void ShowStopped();
    // The value is a loaded file's last reading: grey, and the caption says where it is from.
    void ShowFromFile();
    QLabel* Caption() const { return caption_; }
    bool ValueGreyed() const { return greyed_; }
    void SetTransferIndicator(TIndicator colour);
    TIndicator Indicator() const { return indicator_; }

    // Several gauges (their names, in the chart's order): a selector beside the caption and
    // the table of their states in the pictures' place. One or none: the panel as ever.
    void SetGauges(const QStringList& names, int chosen);
    QComboBox* GaugeSelector() const { return selector_; }
    TGaugeTable* GaugeTable() const { return table_; }

    // Both links open the distributor's page.
    std::function<void()> onLinkClicked;
    // The operator chose gauge k in the selector.
    std::function<void(int k)> onGaugeChosen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* Place(QLabel* label, int x, int y, int w = -1, int h = -1);
    void PlaceCaption(QLabel* caption, int x, const QLabel& value);
    QLabel* image1_;
    QLabel* image2_;
    void SetGreyed(bool on);
    void SetCaption(const QString& text);
    QLabel* staticText1_;
    QLabel* caption_;
    QLabel* pressureText_;
    bool greyed_ = false;
    QLabel* units_;
    QLabel* staticTextTest_;
    std::array<QLabel*, kSetPointCount> setPoints_{};
    QWidget* transferIndicator_;
    QComboBox* selector_;
    TGaugeTable* table_;
    TIndicator indicator_ = TIndicator::face;
};

} // namespace vg57
