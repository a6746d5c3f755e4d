#pragma once

#include "LatestVuSettings.h"

#include <QCheckBox>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <array>

class QLabel;
class QLineEdit;
class SkinControl;

// A check box whose caption wraps onto more lines when its box is too narrow for one.
class CaptionCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CaptionCheckBox(QWidget* parent) : QCheckBox(parent) {}

    // Where the caption is drawn, right of the box, and how.
    QRect captionArea() const;
    static constexpr int kCaptionFlags =
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// The Latest VU selection window: a skinned face with the check boxes and the days, opened
// beside the main window. It shows the saved selection each time it is opened; Save writes
// it, Cancel drops the changes (Enter and Escape too). Modeless, and a tool window of the main
// window: it goes with it and has no task-bar entry of its own.
class LatestVuWindow : public QWidget {
    Q_OBJECT
public:
    explicit LatestVuWindow(QWidget* mainWindow = nullptr);

    void load();
    void checkClicked(int index);
    void checkDaysEntry();
    void save();
    void cancel();
    QString filePath() const;

    std::array<CaptionCheckBox*, kCheckCount> checkBoxes;
    QLineEdit* daysEdit;
    QLabel* daysLabel;
    SkinControl* cancelButton;
    SkinControl* saveButton;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyLayout();
    void showChecks();
    void unload();

    QPointer<QWidget> mainWindow_;
    LatestVuSelection selection_;
    bool loaded_ = false;
    const QRegion outline_;
    const QImage skin_; // as drawn
};
