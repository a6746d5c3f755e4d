#pragma once

#include "Leds.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>

class QLabel;
class ImageBox;
class SkinControl;

// The front end's main window: a skinned face with three download buttons, their lamps,
// a progress bar, a close image and the version and copyright lines.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override; // closes the engine started last

    void load();
    void startMessages();
    void showProgress(const QString& progress);

    // The Latest VU selection window, opened by a right click on Latest VU and hidden
    // while the main window is dragged or a download starts.
    void setLatestVuWindow(QWidget* window) { latestVuWindow_ = window; }
    // Where the selection window goes for the main window at its current position.
    QPoint latestVuWindowPosition() const;

    // The folder searched for the engine; the front end's own folder unless set.
    void setEngineFolder(const QString& folder) { engineFolder_ = folder; }
    QString statusFilePath() const;

    QString appDataFolder;
    qint32 downloadKind = 0;
    QString latestTrepText;
    qint64 engineProcessId = 0;
    qint64 engineStartTime = -1; // tells the engine from a later process with its pid
    LedAnimator leds;            // mode, index, litLamp

    SkinControl* allVuButton;
    SkinControl* latestVuButton;
    SkinControl* cardButton;
    std::array<SkinControl*, 3> pressedButtons;
    std::array<ImageBox*, 3> lamps;
    ImageBox* progressBar;
    SkinControl* closeButton;
    QLabel* versionLabel;
    QLabel* copyrightLabel;
    QTimer activityTimer;
    QTimer lampTimer;

    const QImage lampOnImage;
    const QImage lampFailedImage;
    const QImage lampOffImage;
    const QImage progressBarImage;
    const QImage progressBackgroundImage;

    void startAllVu();
    void startCard();
    void latestVuPressed(Qt::MouseButtons buttons);
    void pollActivity();
    void stepLamps();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    // Hands the drag to the system's window move; false where the platform has none.
    virtual bool beginSystemMove();

private:
    void applyLayout();
    void applySkinMask();
    void clearProgressBar();
    void setLamp(int index, bool lit, bool failed = false);
    void showEnd(qint16 ledMode, const QString& text);
    void darkenLamps();
    void startFromButton(int kind);
    void launch(int kind);
    void showLatestSettings();
    void endDrag();
    void setUpKeyboard();

    const QImage skin_;
    QImage face_; // the skin with the label lines, as drawn
    QString engineFolder_;
    QPointer<QWidget> latestVuWindow_;
    bool demo_ = false; // the downloads come from the simulated unit
    bool dragging_ = false;
    bool systemMove_ = false; // the system moves the window
    bool settingsHiddenForDrag_ = false;
    QPoint dragOffset_;
};
