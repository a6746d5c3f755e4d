#pragma once

#include "Leds.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>

class QLabel;
class PictureBox;
class SkinControl;

// The front end's main window: a skinned face with three download buttons, their lamps,
// a progress bar, a close image and the version and copyright lines.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override; // closes the engine started last

    void Form_Load();
    void StartMessages();
    void ShowProgress(const QString& sProgress);

    // The Latest VU selection window, opened by a right click on Latest VU and hidden
    // while the main window is dragged or a download starts.
    void setLatestSettingsWindow(QWidget* window) { frmLatestSettings = window; }
    // Where the selection window goes for the main window at its current position.
    QPoint LatestSettingsPosition() const;

    // The folder searched for the engine; the front end's own folder unless set.
    void setEngineFolder(const QString& folder) { engineFolder_ = folder; }
    QString statusFilePath() const;

    QString AppDataFolder;
    qint32 DownloadKind = 0;
    QString LatestTrepText;
    qint64 EngineProcessId = 0;
    qint64 EngineStartTime = -1; // tells the engine from a later process with its pid
    LedAnimator Leds;            // LedMode, LedIndex, LitLed

    SkinControl* cmdAllVU;
    SkinControl* cmdLatestVU;
    SkinControl* cmdCard;
    std::array<SkinControl*, 3> ButtonPressed;
    std::array<PictureBox*, 3> PictureLED;
    PictureBox* PictureProgBar;
    SkinControl* Close;
    QLabel* lblRev;
    QLabel* lblCopyright;
    QTimer timerActivity;
    QTimer tmrLEDs;

    const QImage PictureLEDOnBuffer;
    const QImage PictureLEDFailedBuffer;
    const QImage PictureLEDOffBuffer;
    const QImage PictureProgBarBuffer;
    const QImage PictureProgBgBuffer;

    void cmdAllVU_Click();
    void cmdCard_Click();
    void cmdLatestVU_MouseDown(Qt::MouseButtons buttons);
    void timerActivity_Timer();
    void tmrLEDs_Timer();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    // Hands the drag to the system's window move; false where the platform has none.
    virtual bool StartSystemMove();

private:
    void ApplyLayout();
    void ApplySkinMask();
    void ClearProgressBar();
    void SetLamp(int index, bool lit, bool failed = false);
    void ShowEnd(qint16 ledMode, const QString& text);
    void DarkenLamps();
    void StartFromButton(int kind);
    void Launch(int kind);
    void ShowLatestSettings();
    void EndDrag();
    void SetUpKeyboard();

    const QImage skin_;
    QImage face_; // the skin with the label lines, as drawn
    QString engineFolder_;
    QPointer<QWidget> frmLatestSettings;
    bool demo_ = false; // the downloads come from the simulated unit
    bool dragging_ = false;
    bool systemMove_ = false; // the system moves the window
    bool settingsHiddenForDrag_ = false;
    QPoint dragOffset_;
};
