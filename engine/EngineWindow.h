#pragma once

#include "Engine.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

// The engine's own window: its message area, status and version. Hidden unless asked for.
class frmDiagnostics : public QWidget, public EngineView {
    Q_OBJECT
public:
    frmDiagnostics();

    Engine& engine() { return engine_; }

    void setShown(bool shown) override;
    void placeAt(qint32 topTwips, qint32 leftTwips) override;
    void setRevision(const QString& text) override;
    void UnloadAllForms() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Resize();
    void showMessages();

    QPlainTextEdit* tbMessages_;
    QLabel* lblStatus_;
    QLabel* lblRev_;
    QTimer areaRefresh_;
    Engine engine_{this};
};
