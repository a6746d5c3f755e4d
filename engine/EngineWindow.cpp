#include "EngineWindow.h"

#include "EngineWindowLayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>

namespace {
using namespace DiagnosticsDesign;

constexpr int Px(int twips) {
    return twips / kTwipsPerPixel;
}
constexpr int Twips(int px) {
    return px * kTwipsPerPixel;
}

QRect DesignRect(int left, int top, int width, int height) {
    return QRect(Px(left), Px(top), Px(width), Px(height));
}
} // namespace

frmDiagnostics::frmDiagnostics()
    : tbMessages_(new QPlainTextEdit(this)),
      lblStatus_(new QLabel(QStringLiteral("Waiting..."), this)),
      lblRev_(new QLabel(QStringLiteral("Rev..."), this)) {
    setWindowTitle(QStringLiteral("VantrelPC - Diagnostics"));
    resize(Px(kInnerWidth), Px(kInnerHeight));

    tbMessages_->setObjectName(QStringLiteral("tbMessages"));
    lblStatus_->setObjectName(QStringLiteral("lblStatus"));
    lblRev_->setObjectName(QStringLiteral("lblRev"));
    tbMessages_->setReadOnly(true);
    tbMessages_->setFont(QFont(QStringLiteral("Arial"), 8));
    tbMessages_->setGeometry(DesignRect(240, 240, 8175, 4455));
    QFont statusFont(QStringLiteral("Sans Serif"), 12);
    lblStatus_->setFont(statusFont);
    lblStatus_->setGeometry(DesignRect(240, 4680, 5175, 375));
    lblRev_->setGeometry(DesignRect(3600, 4800, 4935, 375));
    lblRev_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // Laying out 32000 characters costs milliseconds: a download writes many lines a
    // second, so the view catches up at most ten times a second, and only when it is seen.
    areaRefresh_.setSingleShot(true);
    areaRefresh_.setInterval(100);
    connect(&areaRefresh_, &QTimer::timeout, this, &frmDiagnostics::showMessages);
    engine_.log().onAreaChanged = [this](const QString&) {
        if (isVisible() && !areaRefresh_.isActive()) areaRefresh_.start();
    };
    engine_.status().onStatusChanged = [this](const QString& text) { lblStatus_->setText(text); };
}

void frmDiagnostics::setShown(bool shown) {
    setVisible(shown);
    if (shown) showMessages();
}

void frmDiagnostics::showMessages() {
    tbMessages_->setPlainText(engine_.log().area());
    tbMessages_->verticalScrollBar()->setValue(tbMessages_->verticalScrollBar()->maximum());
}

void frmDiagnostics::placeAt(qint32 topTwips, qint32 leftTwips) {
    move(leftTwips / kTwipsPerPixel, topTwips / kTwipsPerPixel);
}

void frmDiagnostics::setRevision(const QString& text) {
    lblRev_->setText(text);
}

void frmDiagnostics::UnloadAllForms() {
    for (QWidget* window : QApplication::topLevelWidgets())
        window->close();
}

void frmDiagnostics::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmDiagnostics::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    engine_.setWindowPosition(Twips(y()), Twips(x()));
}

void frmDiagnostics::Form_Resize() {
    const QSize outer = frameGeometry().size();
    const DiagnosticsLayout layout =
        LayoutForOuterSize(Twips(outer.width()), Twips(outer.height()));
    tbMessages_->resize(Px(layout.messagesWidth), Px(layout.messagesHeight));
    lblStatus_->move(lblStatus_->x(), Px(layout.statusTop));
    lblRev_->move(lblRev_->x(), Px(layout.revTop));
}

void frmDiagnostics::closeEvent(QCloseEvent* event) {
    engine_.Form_Unload();
    event->accept();
}
