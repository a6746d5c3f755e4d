#include "LatestVuWindow.h"

#include "Artwork.h"
#include "DownloadSettings.h"
#include "Folders.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "SkinControls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTimer>

namespace {
const int kCaptionsRight = 174; // 2 pixels inside the face's panel

QRect indicatorRect(const QCheckBox& box, const QStyleOptionButton& option) {
    return box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
}
} // namespace

QRect CaptionCheckBox::captionArea() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    QRect area = rect();
    area.setLeft(indicatorRect(*this, option).right() + 5);
    return area;
}

void CaptionCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect = indicatorRect(*this, option);
    p.drawPrimitive(QStyle::PE_IndicatorCheckBox, option);
    const QRect textArea = captionArea();
    // A grayed box keeps a readable caption; only its box is dimmed.
    p.setPen(palette().color(QPalette::Active, QPalette::WindowText));
    p.drawText(textArea, kCaptionFlags, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = p.boundingRect(textArea, kCaptionFlags, text()).adjusted(-1, 0, 1, 0);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

LatestVuWindow::LatestVuWindow(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint), mainWindow_(mainWindow),
      outline_(faceOutline(Artwork::latestSettingsSkin())),
      skin_(faceForDrawing(Artwork::latestSettingsSkin())) {
    setObjectName(kLatestWindowName);
    setWindowIcon(Artwork::windowIcon());
    // The condensed face first: where Verdana is missing, a set-up may answer its name with a
    // wide face instead of trying the next name, and the captions would not fit.
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Verdana")});
    font.setPointSizeF(6.75);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kKeyColour);
    setPalette(palette);

    QPalette boxPalette = palette;
    boxPalette.setColor(QPalette::Window, Artwork::kSettingsPanel);
    boxPalette.setColor(QPalette::Button, Artwork::kSettingsPanel); // what check boxes fill with
    for (int index = 0; index < kCheckCount; ++index) {
        checkBoxes[index] = new CaptionCheckBox(this);
        checkBoxes[index]->setObjectName(checkName(index));
        checkBoxes[index]->setPalette(boxPalette);
        checkBoxes[index]->setAutoFillBackground(true);
        connect(checkBoxes[index], &QCheckBox::clicked, this,
                [this, index] { checkClicked(index); });
    }
    // The overview is always downloaded: its box stays grayed.
    checkBoxes[0]->setChecked(true);
    checkBoxes[0]->setEnabled(false);

    daysEdit = new QLineEdit(this);
    daysEdit->setObjectName(QStringLiteral("daysEdit"));
    QPalette white = daysEdit->palette();
    white.setColor(QPalette::Base, Qt::white);
    // The frame is drawn in a shade of the window colour: the panel's, not the key colour.
    white.setColor(QPalette::Window, Artwork::kSettingsPanel);
    daysEdit->setPalette(white);
    daysEdit->installEventFilter(this);
    daysLabel = new QLabel(this);
    daysLabel->setObjectName(QStringLiteral("daysLabel"));
    daysLabel->setWordWrap(true);
    daysLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cancelButton = new SkinControl(this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    saveButton = new SkinControl(this);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    connect(cancelButton, &SkinControl::clicked, this, &LatestVuWindow::cancel);
    connect(saveButton, &SkinControl::clicked, this, &LatestVuWindow::save);

    QWidget* order[] = {checkBoxes[0], checkBoxes[1], checkBoxes[2], checkBoxes[3], checkBoxes[4],
                        checkBoxes[5], checkBoxes[7], daysEdit,      checkBoxes[8], checkBoxes[6]};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

QString LatestVuWindow::filePath() const {
    return dataFolderPath() + QLatin1Char('/') + kLatestVUFileName;
}

void LatestVuWindow::load() {
    // Only the skin shows: pixels of the key colour are not part of the window.
    setMask(outline_);
    applyLayout();
    if (mainWindow_) move(mainWindow_->x() + mainWindow_->width(), mainWindow_->y());
    selection_.load(filePath());
    showChecks();
    daysEdit->setText(selection_.days);
    loaded_ = true;
}

void LatestVuWindow::applyLayout() {
    const double twipsPerPixel = kDesignTwipsPerPixel; // Qt lays out in 96 dpi pixels
    std::vector<DesignControl> layout = latestSettingsLayout(twipsPerPixel);
    const LatestVuTexts texts = languageStrings(DownloadSettings::language, layout, twipsPerPixel);
    for (const DesignControl& control : layout) {
        const QRect r = twipsToPixels(control.twips, twipsPerPixel);
        if (control.name == kLatestWindowName)
            setFixedSize(r.size());
        else if (QWidget* child = findChild<QWidget*>(control.name))
            child->setGeometry(r);
    }
    setWindowTitle(texts.windowCaption);
    for (int index = 0; index < kCheckCount; ++index) {
        // Each box reaches to the panel's right edge: at the designed widths most captions
        // would wrap onto a second line.
        CaptionCheckBox* box = checkBoxes[index];
        box->resize(qMax(box->width(), kCaptionsRight - box->x()), box->height());
        box->setText(texts.checkCaptions[index]);
    }
    daysLabel->setText(texts.daysCaption);
}

void LatestVuWindow::showChecks() {
    for (int index = 1; index < kCheckCount; ++index)
        checkBoxes[index]->setChecked(selection_.checks[index]);
}

void LatestVuWindow::checkClicked(int index) {
    selection_.checks[index] = checkBoxes[index]->isChecked();
    ::checkClicked(selection_.checks, index);
    showChecks(); // the days box keeps what was typed
}

void LatestVuWindow::checkDaysEntry() {
    selection_.days = daysEdit->text();
    const DaysProblem problem = selection_.validateDays();
    daysEdit->setText(selection_.days);
    if (problem == DaysProblem::None) return;
    // The message and the focus wait until the focus change and the click that caused it are
    // over: a modal box opened in their middle would take the click's release.
    QTimer::singleShot(0, this, [this, problem] {
        showMessageBox(daysMessage(problem));
        daysEdit->setFocus();
    });
}

void LatestVuWindow::save() {
    selection_.days = daysEdit->text();
    const bool saved = selection_.save(filePath());
    daysEdit->setText(selection_.days);
    if (saved) unload();
}

void LatestVuWindow::cancel() {
    unload();
}

void LatestVuWindow::unload() {
    loaded_ = false;
    hide();
}

void LatestVuWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, skin_);
}

void LatestVuWindow::showEvent(QShowEvent* event) {
    // Opened again after Save or Cancel: show the file's state, not the last edits.
    if (!loaded_) load();
    QWidget::showEvent(event);
}

void LatestVuWindow::closeEvent(QCloseEvent* event) {
    loaded_ = false;
    event->accept();
}

void LatestVuWindow::keyPressEvent(QKeyEvent* event) {
    // Reaches here from any control: none of them takes Enter or Escape for itself.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        save();
        break;
    case Qt::Key_Escape:
        cancel();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool LatestVuWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == daysEdit && event->type() == QEvent::FocusOut) {
        // Only leaving for another control of this window checks the days, at once: the
        // control taking the focus may be clicked next, and nothing may see the days before.
        QWidget* next = QApplication::focusWidget();
        if (next && next != daysEdit && isAncestorOf(next)) checkDaysEntry();
    }
    return QWidget::eventFilter(watched, event);
}
