#include "SkinControls.h"

#include "Artwork.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

ImageBox::ImageBox(QSize size, QWidget* parent)
    : QWidget(parent), image_(size, QImage::Format_RGB32) {
    image_.fill(Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageBox::copyFrom(const QImage& source, const QRect& sourceRect, const QPoint& to) {
    QPainter p(&image_);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(to, source, sourceRect);
}

void ImageBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, image_);
}

SkinControl::SkinControl(QWidget* parent, const QImage& picture)
    : QWidget(parent), picture_(picture) {}

void SkinControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!picture_.isNull()) p.drawImage(0, 0, picture_);
    // Only a focus the keyboard moved is marked: the face looks as designed until Tab.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange))
        Artwork::paintFocusMark(p);
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

void SkinControl::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space) {
        QWidget::keyPressEvent(event);
        return;
    }
    // A key held down is one press, as a button held down is.
    if (!event->isAutoRepeat()) {
        emit mouseDown(Qt::LeftButton);
        emit clicked();
    }
    event->accept();
}
