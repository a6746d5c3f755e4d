#include "SkinControls.h"

#include <QMouseEvent>
#include <QPainter>

PictureBox::PictureBox(QSize size, QWidget* parent)
    : QWidget(parent), image_(size, QImage::Format_RGB32) {
    image_.fill(Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::CopyFrom(const QImage& source, const QRect& sourceRect, const QPoint& to) {
    QPainter p(&image_);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(to, source, sourceRect);
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, image_);
}

SkinControl::SkinControl(QWidget* parent, const QImage& picture)
    : QWidget(parent), picture_(picture) {}

void SkinControl::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter p(this);
    p.drawImage(0, 0, picture_);
}

void SkinControl::mousePressEvent(QMouseEvent* event) {
    pressed_ = true;
    emit mouseDown(event->buttons());
    event->accept();
}

void SkinControl::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double-click is not a press of its own: one start per double-click.
    pressed_ = false;
    event->accept();
}

void SkinControl::mouseReleaseEvent(QMouseEvent* event) {
    if (pressed_ && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        emit clicked();
    pressed_ = false;
    event->accept();
}
