#include "ValuePanel.h"

#include "Fonts.h"
#include "GaugeTable.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

#include <algorithm>

namespace vg57 {

namespace {

struct TSetPointRow {
    const char* caption;
    int labelX, valueX, top;
};
// SP1L, SP1H, SP2L, SP2H, SP3L, SP3H: labels and values at their design places.
constexpr TSetPointRow kRows[kSetPointCount] = {
    {"SP1L", 683, 715, 320}, {"SP1H", 813, 843, 320}, {"SP2L", 683, 715, 344},
    {"SP2H", 811, 843, 344}, {"SP3L", 683, 715, 368}, {"SP3H", 811, 843, 368},
};
constexpr int kValueWidth = 75, kValueHeight = 17;
constexpr int kCaptionGap = 4; // at least, between a caption and its value
constexpr int kPressureWidth = 282, kPressureHeight = 50;
constexpr int kCaptionX = 699; // the value's caption, at its design place

QColor IndicatorColour(TIndicator c, const QPalette& palette) {
    switch (c) {
    case TIndicator::yellow:
        return QColor(0xFF, 0xFF, 0x00);
    case TIndicator::green:
        return QColor(0x00, 0x80, 0x00);
    case TIndicator::red:
        return QColor(0xFF, 0x00, 0x00);
    case TIndicator::face:
        break;
    }
    return palette.color(QPalette::Button);
}

} // namespace

TValuePanel::TValuePanel(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, kHeight);
    image1_ = Place(new QLabel(this), 699, 72, 97, 121);
    image1_->setObjectName(QStringLiteral("Image1"));
    image2_ = Place(new QLabel(this), 822, 91, 108, 62);
    image2_->setObjectName(QStringLiteral("Image2"));
    staticText1_ = Place(new QLabel(this), 838, 160);
    staticText1_->setObjectName(QStringLiteral("StaticText1"));
    staticText1_->setFont(LinkFont());
    staticText1_->setStyleSheet(QStringLiteral("color: blue;"));
    for (QLabel* link : {image2_, staticText1_}) {
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }

    caption_ = new QLabel(QString::fromUtf8(kCaption), this);
    QFont captionFont = WindowFont();
    captionFont.setPixelSize(13);
    caption_->setFont(captionFont);
    Place(caption_, kCaptionX, 237);
    pressureText_ = Place(new QLabel(this), 680, 253, kPressureWidth, kPressureHeight);
    pressureText_->setObjectName(QStringLiteral("PressureText"));
    SetPressureText(QString::fromUtf8(kNoData));

    for (int i = 0; i < kSetPointCount; ++i) {
        const TSetPointRow& row = kRows[i];
        setPoints_[i] = Place(new QLabel(QString::fromUtf8(kNoData), this), row.valueX, row.top,
                              kValueWidth, kValueHeight);
        PlaceCaption(new QLabel(QString::fromLatin1(row.caption), this), row.labelX,
                     *setPoints_[i]);
        setPoints_[i]->setObjectName(QString::fromLatin1(row.caption));
    }
    units_ =
        Place(new QLabel(QString::fromUtf8(kNoData), this), 731, 392, kValueWidth, kValueHeight);
    PlaceCaption(new QLabel(QStringLiteral("Ед. изм."), this), 683, *units_);
    units_->setObjectName(QStringLiteral("Units"));
    staticTextTest_ = Place(new QLabel(QString(9, QLatin1Char(' ')), this), 691, 416);
    staticTextTest_->setObjectName(QStringLiteral("StaticText_Test"));

    transferIndicator_ = new QWidget(this);
    transferIndicator_->setObjectName(QStringLiteral("TransferIndicator"));
    transferIndicator_->setGeometry(707 - kDesignLeft, 445 - kDesignTop, 169, 20);
    transferIndicator_->setAutoFillBackground(true);
    SetTransferIndicator(TIndicator::face);

    selector_ = new QComboBox(this);
    selector_->setObjectName(QStringLiteral("GaugeSelector"));
    selector_->hide();
    connect(selector_, &QComboBox::activated, this, [this](int k) {
        if (onGaugeChosen) onGaugeChosen(k);
    });
    table_ = new TGaugeTable(this);
    table_->setGeometry(680 - kDesignLeft, 66 - kDesignTop, kPressureWidth, 140);
    // Between the table and the caption: the caption grows with the value's age or "(измерения
    // остановлены)", and a selector beside it would cover that.
    selector_->setGeometry(table_->x(), table_->geometry().bottom() + 5, 110, 22);
    QFont tableFont = WindowFont();
    tableFont.setPixelSize(11);
    table_->setFont(tableFont);
    table_->hide();
}

void TValuePanel::SetGauges(const QStringList& names, int chosen) {
    const bool several = names.size() > 1;
    if (selector_->count() != names.size() || [&] {
            for (int k = 0; k < names.size(); ++k)
                if (selector_->itemText(k) != names[k]) return true;
            return false;
        }()) {
        selector_->clear();
        selector_->addItems(names);
    }
    selector_->setCurrentIndex(chosen);
    selector_->setVisible(several);
    table_->setVisible(several);
    for (QLabel* picture : {image1_, image2_, staticText1_})
        picture->setVisible(!several);
}

QLabel* TValuePanel::Place(QLabel* label, int x, int y, int w, int h) {
    label->move(x - kDesignLeft, y - kDesignTop);
    if (w > 0)
        label->resize(w, h);
    else
        label->adjustSize();
    return label;
}

void TValuePanel::PlaceCaption(QLabel* caption, int x, const QLabel& value) {
    // The caption's box is its value's height, so that both texts, centred alike, share a
    // baseline. It keeps its design place unless the font is wider than the design's; then it
    // moves left rather than touch its value.
    const int width = caption->fontMetrics().horizontalAdvance(caption->text());
    caption->setAlignment(value.alignment());
    caption->setGeometry(std::min(x - kDesignLeft, value.x() - kCaptionGap - width), value.y(),
                         width, value.height());
}

void TValuePanel::SetPressureText(const QString& text) {
    // A long value ("0.00012 мбар") is made smaller rather than cut off; the box stays.
    pressureText_->setFont(FitFont(PressureFont(), text, kPressureWidth));
    pressureText_->setText(text);
    SetGreyed(false);
    SetCaption(QString::fromUtf8(kCaption));
}

void TValuePanel::ShowNoLink() {
    const QString text = QString::fromUtf8(kNoLink);
    pressureText_->setFont(FitFont(PressureFont(), text, kPressureWidth));
    pressureText_->setText(text);
    SetGreyed(true);
    SetCaption(QString::fromUtf8(kCaption));
}

void TValuePanel::ShowStale(long long ageSeconds) {
    SetGreyed(true);
    SetCaption(QString::fromUtf8(kCaption) + QStringLiteral(" (%1 с назад)").arg(ageSeconds));
}

void TValuePanel::ShowStopped() {
    SetGreyed(true);
    SetCaption(QString::fromUtf8(kCaption) + QStringLiteral(" (измерения остановлены)"));
}

void TValuePanel::ShowFromFile() {
    SetGreyed(true);
    SetCaption(QStringLiteral("Последнее в файле"));
}

void TValuePanel::SetGreyed(bool on) {
    if (greyed_ == on) return;
    greyed_ = on;
    pressureText_->setStyleSheet(on ? QStringLiteral("color: gray;") : QString());
}

void TValuePanel::SetCaption(const QString& text) {
    if (caption_->text() == text) return;
    caption_->setText(text);
    caption_->adjustSize();
    // A long caption ("… (измерения остановлены)") moves left rather than be cut at the edge.
    caption_->move(std::max(0, std::min(kCaptionX - kDesignLeft, kWidth - caption_->width() - 4)),
                   caption_->y());
}

void TValuePanel::SetTransferIndicator(TIndicator colour) {
    indicator_ = colour;
    QPalette p = transferIndicator_->palette();
    p.setColor(QPalette::Window, IndicatorColour(colour, palette()));
    transferIndicator_->setPalette(p);
    transferIndicator_->repaint();
}

bool TValuePanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        (watched == image2_ || watched == staticText1_)) {
        if (onLinkClicked) onLinkClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vg57
