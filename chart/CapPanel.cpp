#include "CapPanel.h"

#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>

namespace vg57 {

THitZone PanelHitTest(const THitTestInput& in) {
    THitZone zone = THitZone::Client;
    const bool aligned = in.align != TPanelAlign::None;
    if (in.moving && !aligned) zone = THitZone::Caption;
    if (in.align == TPanelAlign::Client) return zone;
    const int D = in.delta;
    const bool right = in.w - in.x <= D, left = in.x <= D, bottom = in.h - in.y <= D,
               top = in.y <= D;
    if (!aligned && in.xSizing && in.ySizing) {
        if (right && bottom) return THitZone::BottomRight;
        if (left && top) return THitZone::TopLeft;
        if (right && top) return THitZone::TopRight;
        if (left && bottom) return THitZone::BottomLeft;
    }
    // Edges in this order, each later match replacing an earlier one.
    if (right && (!aligned || in.align == TPanelAlign::Left) && in.xSizing) zone = THitZone::Right;
    if (left && (!aligned || in.align == TPanelAlign::Right) && in.xSizing) zone = THitZone::Left;
    if (bottom && (!aligned || in.align == TPanelAlign::Top) && in.ySizing) zone = THitZone::Bottom;
    if (top && (!aligned || in.align == TPanelAlign::Bottom) && in.ySizing) zone = THitZone::Top;
    return zone;
}

TPanelCaption::TPanelCaption(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true);
    setMouseTracking(true); // the sizing pointer follows the pointer without a button held
}

void TPanelCaption::SetMoving(bool on) {
    if (on && Align == TPanelAlign::None) moving_ = true;
}

THitZone TPanelCaption::HitTest(int x, int y) const {
    return PanelHitTest({x, y, width(), height(), Delta, moving_, XSizing, YSizing, Align});
}

void TPanelCaption::UpdateCursor(THitZone zone) {
    switch (zone) {
    case THitZone::Left:
    case THitZone::Right:
        setCursor(Qt::SizeHorCursor);
        break;
    case THitZone::Top:
    case THitZone::Bottom:
        setCursor(Qt::SizeVerCursor);
        break;
    case THitZone::TopLeft:
    case THitZone::BottomRight:
        setCursor(Qt::SizeFDiagCursor);
        break;
    case THitZone::TopRight:
    case THitZone::BottomLeft:
        setCursor(Qt::SizeBDiagCursor);
        break;
    default:
        unsetCursor();
        break;
    }
}

void TPanelCaption::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    const THitZone zone = HitTest(p.x(), p.y());
    // The sizing zones are the panel's frame, not its body: a press there sizes the panel with
    // the left button and does nothing with another. Only while the panel holds the mouse (a
    // drag in progress) does every press go to the handlers, wherever it lands.
    if (zone != THitZone::Client && mouseGrabber() != this) {
        if (e->button() == Qt::LeftButton) {
            sizingZone_ = zone;
            pressGlobal_ = e->globalPosition().toPoint();
            startGeometry_ = geometry();
        }
        return;
    }
    emit mousePressed(e->button(), e->buttons(), p.x(), p.y());
}

void TPanelCaption::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (!Sizing()) {
        if (!(e->buttons() & Qt::LeftButton)) UpdateCursor(HitTest(p.x(), p.y()));
        emit mouseMoved(e->buttons(), p.x(), p.y());
        return;
    }
    const QPoint d = e->globalPosition().toPoint() - pressGlobal_;
    QRect g = startGeometry_;
    const int minW = std::max({MinWidth, minimumWidth(), 1}),
              minH = std::max({MinHeight, minimumHeight(), 1});
    auto z = sizingZone_;
    if (z == THitZone::Caption) {
        g.translate(d);
    } else {
        if (z == THitZone::Left || z == THitZone::TopLeft || z == THitZone::BottomLeft)
            g.setLeft(std::min(g.left() + d.x(), g.right() + 1 - minW));
        if (z == THitZone::Right || z == THitZone::TopRight || z == THitZone::BottomRight)
            g.setRight(std::max(g.right() + d.x(), g.left() + minW - 1));
        if (z == THitZone::Top || z == THitZone::TopLeft || z == THitZone::TopRight)
            g.setTop(std::min(g.top() + d.y(), g.bottom() + 1 - minH));
        if (z == THitZone::Bottom || z == THitZone::BottomLeft || z == THitZone::BottomRight)
            g.setBottom(std::max(g.bottom() + d.y(), g.top() + minH - 1));
    }
    setGeometry(g);
}

void TPanelCaption::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (Sizing() && e->button() == Qt::LeftButton) {
        sizingZone_ = THitZone::Client;
        return;
    }
    emit mouseReleased(e->button(), e->buttons(), p.x(), p.y());
}

void TPanelCaption::moveEvent(QMoveEvent* e) {
    QFrame::moveEvent(e);
    emit moved();
}

void TPanelCaption::resizeEvent(QResizeEvent* e) {
    QFrame::resizeEvent(e);
    // The first layout of a new panel is no change of its size.
    if (e->oldSize().isValid() && e->oldSize() != e->size()) emit resized();
}

} // namespace vg57
