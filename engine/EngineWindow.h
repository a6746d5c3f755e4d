#pragma once

#include "Engine.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

// The engine's own window: its message area, status and version. Hidden unless asked for.
class EngineWindow : public QWidget, public EngineView {
    Q_OBJECT
public:
    EngineWindow();

    Engine& engine() { return engine_; }

    void setShown(bool shown) override;
    void placeAt(qint32 topTwips, qint32 leftTwips) override;
    void setRevision(const QString& text) override;
    void closeAll() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void layOut();
    void showMessages();

    QPlainTextEdit* messages_;
    QLabel* statusLabel_;
    QLabel* versionLabel_;
    QTimer areaRefresh_;
    Engine engine_{this};
};
