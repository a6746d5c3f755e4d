#pragma once

#include <QImage>
#include <QMouseEvent>
#include <QWidget>

// A picture box that keeps whatever was last copied into it, like a persistent bitmap:
// it is never redrawn from its sources, only from its own image.
class ImageBox : public QWidget {
    Q_OBJECT
public:
    ImageBox(QSize size, QWidget* parent);

    // Copies a block of source to position to of this picture (plain copy, no blending).
    void copyFrom(const QImage& source, const QRect& sourceRect, const QPoint& to);
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Lamps and the bar take a press and do nothing with it: it does not drag the window.
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }

private:
    QImage image_;
};

// A part of the skin the user clicks: transparent, or showing a fixed picture. One that takes
// the focus (a download button) is pressed with Enter or Space too, and shows a focus mark
// once the keyboard has moved the focus.
class SkinControl : public QWidget {
    Q_OBJECT
public:
    explicit SkinControl(QWidget* parent, const QImage& picture = QImage());

signals:
    void mouseDown(Qt::MouseButtons buttons);
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage picture_;
    bool pressed_ = false;
};
