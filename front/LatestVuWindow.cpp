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

QRect IndicatorRect(const QCheckBox& box, const QStyleOptionButton& option) {
    return box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
}
} // namespace

QRect CaptionCheckBox::captionArea() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    QRect area = rect();
    area.setLeft(IndicatorRect(*this, option).right() + 5);
    return area;
}

void CaptionCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect = IndicatorRect(*this, option);
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

frmLatestSettings::frmLatestSettings(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint), mainWindow_(mainWindow),
      outline_(FaceOutline(Artwork::LatestSettingsSkin())),
      skin_(FaceForDrawing(Artwork::LatestSettingsSkin())) {
    setObjectName(kLatestWindowName);
    setWindowIcon(Artwork::WindowIcon());
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
        Check1[index] = new CaptionCheckBox(this);
        Check1[index]->setObjectName(CheckName(index));
        Check1[index]->setPalette(boxPalette);
        Check1[index]->setAutoFillBackground(true);
        connect(Check1[index], &QCheckBox::clicked, this, [this, index] { Check1_Click(index); });
    }
    // The overview is always downloaded: its box stays grayed.
    Check1[0]->setChecked(true);
    Check1[0]->setEnabled(false);

    tbDays = new QLineEdit(this);
    tbDays->setObjectName(QStringLiteral("tbDays"));
    QPalette white = tbDays->palette();
    white.setColor(QPalette::Base, Qt::white);
    // The frame is drawn in a shade of the window colour: the panel's, not the key colour.
    white.setColor(QPalette::Window, Artwork::kSettingsPanel);
    tbDays->setPalette(white);
    tbDays->installEventFilter(this);
    lblDaysActivities = new QLabel(this);
    lblDaysActivities->setObjectName(QStringLiteral("lblDaysActivities"));
    lblDaysActivities->setWordWrap(true);
    lblDaysActivities->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cmdCancel = new SkinControl(this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdSave = new SkinControl(this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    connect(cmdCancel, &SkinControl::clicked, this, &frmLatestSettings::cmdCancel_Click);
    connect(cmdSave, &SkinControl::clicked, this, &frmLatestSettings::cmdSave_Click);

    QWidget* order[] = {Check1[0], Check1[1], Check1[2], Check1[3], Check1[4],
                        Check1[5], Check1[7], tbDays,    Check1[8], Check1[6]};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

QString frmLatestSettings::filePath() const {
    return DataFolderPath() + QLatin1Char('/') + kLatestVUFileName;
}

void frmLatestSettings::Form_Load() {
    // Only the skin shows: pixels of the key colour are not part of the window.
    setMask(outline_);
    ApplyLayout();
    if (mainWindow_) move(mainWindow_->x() + mainWindow_->width(), mainWindow_->y());
    selection_.Load(filePath());
    ShowChecks();
    tbDays->setText(selection_.days);
    loaded_ = true;
}

void frmLatestSettings::ApplyLayout() {
    const double twipsPerPixel = kDesignTwipsPerPixel; // Qt lays out in 96 dpi pixels
    std::vector<DesignControl> layout = LatestSettingsLayout(twipsPerPixel);
    const LatestVuTexts texts = LanguageStrings(DownloadSettings::Language, layout, twipsPerPixel);
    for (const DesignControl& control : layout) {
        const QRect r = TwipsToPixels(control.twips, twipsPerPixel);
        if (control.name == kLatestWindowName)
            setFixedSize(r.size());
        else if (QWidget* child = findChild<QWidget*>(control.name))
            child->setGeometry(r);
    }
    setWindowTitle(texts.windowCaption);
    for (int index = 0; index < kCheckCount; ++index) {
        // Each box reaches to the panel's right edge: at the designed widths most captions
        // would wrap onto a second line.
        CaptionCheckBox* box = Check1[index];
        box->resize(qMax(box->width(), kCaptionsRight - box->x()), box->height());
        box->setText(texts.checkCaptions[index]);
    }
    lblDaysActivities->setText(texts.daysCaption);
}

void frmLatestSettings::ShowChecks() {
    for (int index = 1; index < kCheckCount; ++index)
        Check1[index]->setChecked(selection_.checks[index]);
}

void frmLatestSettings::Check1_Click(int index) {
    selection_.checks[index] = Check1[index]->isChecked();
    ::Check1_Click(selection_.checks, index);
    ShowChecks(); // the days box keeps what was typed
}

void frmLatestSettings::tbDays_Validate() {
    selection_.days = tbDays->text();
    const DaysProblem problem = selection_.ValidateDays();
    tbDays->setText(selection_.days);
    if (problem == DaysProblem::None) return;
    // The message and the focus wait until the focus change and the click that caused it are
    // over: a modal box opened in their middle would take the click's release.
    QTimer::singleShot(0, this, [this, problem] {
        ShowMessageBox(DaysMessage(problem));
        tbDays->setFocus();
    });
}

void frmLatestSettings::cmdSave_Click() {
    selection_.days = tbDays->text();
    const bool saved = selection_.Save(filePath());
    tbDays->setText(selection_.days);
    if (saved) Unload();
}

void frmLatestSettings::cmdCancel_Click() {
    Unload();
}

void frmLatestSettings::Unload() {
    loaded_ = false;
    hide();
}

void frmLatestSettings::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, skin_);
}

void frmLatestSettings::showEvent(QShowEvent* event) {
    // Opened again after Save or Cancel: show the file's state, not the last edits.
    if (!loaded_) Form_Load();
    QWidget::showEvent(event);
}

void frmLatestSettings::closeEvent(QCloseEvent* event) {
    loaded_ = false;
    event->accept();
}

void frmLatestSettings::keyPressEvent(QKeyEvent* event) {
    // Reaches here from any control: none of them takes Enter or Escape for itself.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        cmdSave_Click();
        break;
    case Qt::Key_Escape:
        cmdCancel_Click();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool frmLatestSettings::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tbDays && event->type() == QEvent::FocusOut) {
        // Only leaving for another control of this window checks the days, at once: the
        // control taking the focus may be clicked next, and nothing may see the days before.
        QWidget* next = QApplication::focusWidget();
        if (next && next != tbDays && isAncestorOf(next)) tbDays_Validate();
    }
    return QWidget::eventFilter(watched, event);
}
