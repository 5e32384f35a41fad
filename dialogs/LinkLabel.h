// A label that acts as a web link: a hand pointer over it and a click signal. Used for the
// distributor's logo and address, in the about box and on the main window.
#pragma once

#include <QLabel>

namespace vg57 {

class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    // A left-button press and release, both on the label.
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

// Shows `text` as an address link: blue, underlined, 13 pixels high, sized to its text.
void ShowAsAddressLink(QLabel* label, const QString& text);

} // namespace vg57
