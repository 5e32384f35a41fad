// A plain panel whose edges size it (TPanelCaption), published as TFreePanel: the two range
// sliders are such panels. Qt has no non-client hit-testing for child widgets, so the panel
// finds its edge zones itself, shows the sizing pointer there and sizes itself when dragged.
#pragma once

#include <QFrame>

namespace vg57 {

enum class THitZone {
    Client,
    Caption,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight
};
enum class TPanelAlign { None, Top, Bottom, Left, Right, Client };

struct THitTestInput {
    int x, y;  // the pointer, in panel coordinates
    int w, h;  // the panel's size
    int delta; // width of the edge zones
    bool moving, xSizing, ySizing;
    TPanelAlign align = TPanelAlign::None;
};

// Which part of the panel lies under the pointer. The zones cover pixels 0..D at the left and
// top (D + 1 pixels) and the last D pixels at the right and bottom.
THitZone PanelHitTest(const THitTestInput& in);

class TPanelCaption : public QFrame {
    Q_OBJECT
public:
    explicit TPanelCaption(QWidget* parent = nullptr);

    int MinWidth = 0, MinHeight = 0;
    int Delta = 5;
    bool XSizing = false, YSizing = false;
    bool Moving() const { return moving_; }
    // Takes effect only on a panel that is not aligned; setting it to false is ignored.
    void SetMoving(bool on);
    TPanelAlign Align = TPanelAlign::None;

    THitZone HitTest(int x, int y) const;
    bool Sizing() const { return sizingZone_ != THitZone::Client; }

signals:
    // Presses outside the sizing zones (anywhere while the panel holds the mouse), and moves
    // and releases that are not part of sizing the panel; in panel coordinates.
    void mousePressed(Qt::MouseButton button, Qt::MouseButtons buttons, int x, int y);
    void mouseMoved(Qt::MouseButtons buttons, int x, int y);
    void mouseReleased(Qt::MouseButton button, Qt::MouseButtons buttons, int x, int y);
    // Every size change, also while an edge is being dragged.
    void resized();
    // Every change of place, also while the panel is being dragged.
    void moved();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void UpdateCursor(THitZone zone);
    bool moving_ = false;
    THitZone sizingZone_ = THitZone::Client;
    QPoint pressGlobal_;
    QRect startGeometry_;
};

class TFreePanel : public TPanelCaption {
    Q_OBJECT
public:
    using TPanelCaption::TPanelCaption;
};

} // namespace vg57
