#include "EngineWindow.h"

#include "EngineWindowLayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>

namespace {
using namespace DiagnosticsDesign;

constexpr int toPixels(int twips) {
    return twips / kTwipsPerPixel;
}
constexpr int toTwips(int px) {
    return px * kTwipsPerPixel;
}

QRect designRect(int left, int top, int width, int height) {
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}
} // namespace

EngineWindow::EngineWindow()
    : messages_(new QPlainTextEdit(this)),
      statusLabel_(new QLabel(QStringLiteral("Waiting..."), this)),
      versionLabel_(new QLabel(QStringLiteral("Rev..."), this)) {
    setWindowTitle(QStringLiteral("VantrelPC - Diagnostics"));
    resize(toPixels(kInnerWidth), toPixels(kInnerHeight));

    messages_->setObjectName(QStringLiteral("messages"));
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    versionLabel_->setObjectName(QStringLiteral("versionLabel"));
    messages_->setReadOnly(true);
    messages_->setFont(QFont(QStringLiteral("Arial"), 8));
    messages_->setGeometry(designRect(240, 240, 8175, 4455));
    QFont statusFont(QStringLiteral("Sans Serif"), 12);
    statusLabel_->setFont(statusFont);
    statusLabel_->setGeometry(designRect(240, 4680, 5175, 375));
    versionLabel_->setGeometry(designRect(3600, 4800, 4935, 375));
    versionLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // Laying out 32000 characters costs milliseconds: a download writes many lines a
    // second, so the view catches up at most ten times a second, and only when it is seen.
    areaRefresh_.setSingleShot(true);
    areaRefresh_.setInterval(100);
    connect(&areaRefresh_, &QTimer::timeout, this, &EngineWindow::showMessages);
    engine_.log().onAreaChanged = [this](const QString&) {
        if (isVisible() && !areaRefresh_.isActive()) areaRefresh_.start();
    };
    engine_.status().onStatusChanged = [this](const QString& text) { statusLabel_->setText(text); };
}

void EngineWindow::setShown(bool shown) {
    setVisible(shown);
    if (shown) showMessages();
}

void EngineWindow::showMessages() {
    messages_->setPlainText(engine_.log().area());
    messages_->verticalScrollBar()->setValue(messages_->verticalScrollBar()->maximum());
}

void EngineWindow::placeAt(qint32 topTwips, qint32 leftTwips) {
    move(leftTwips / kTwipsPerPixel, topTwips / kTwipsPerPixel);
}

void EngineWindow::setRevision(const QString& text) {
    versionLabel_->setText(text);
}

void EngineWindow::closeAll() {
    for (QWidget* window : QApplication::topLevelWidgets())
        window->close();
}

void EngineWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
}

void EngineWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    engine_.setWindowPosition(toTwips(y()), toTwips(x()));
}

void EngineWindow::layOut() {
    const QSize outer = frameGeometry().size();
    const DiagnosticsLayout layout =
        layoutForOuterSize(toTwips(outer.width()), toTwips(outer.height()));
    messages_->resize(toPixels(layout.messagesWidth), toPixels(layout.messagesHeight));
    statusLabel_->move(statusLabel_->x(), toPixels(layout.statusTop));
    versionLabel_->move(versionLabel_->x(), toPixels(layout.revTop));
}

void EngineWindow::closeEvent(QCloseEvent* event) {
    engine_.closedByUser();
    event->accept();
}
