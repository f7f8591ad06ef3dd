#include "shell/frmoptions.h"

#include "engine/seams.h"
#include "skin/focusmark.h"
#include "skin/hotspot.h"
#include "settings/settingsfiles.h"
#include "settings/statelocations.h"
#include "skin/skin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace zm {

frmOptions::frmOptions(ProgramSettings &settings, QString optionsIniPath, MessageBoxes *boxes, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_settings(settings), m_iniPath(std::move(optionsIniPath)),
      m_boxes(boxes)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);
    setFixedSize(324, 172);
    setMouseTracking(true);
    m_background = skinBackground(QStringLiteral("options.png"), QSize(330, 180));
    ApplySkinColourKey(this, m_background);
    centreOnScreen(this); // on the screen, not over the main window

    m_cmbSR = new QComboBox(this);
    m_cmbSR->setObjectName(QStringLiteral("cmbSR"));
    m_cmbSR->setProperty("zmBox", true);
    m_cmbSR->addItems({QStringLiteral("ON"), QStringLiteral("OFF")});
    m_cmbSR->setGeometry(146, 34, 163, 20);
    m_cmbSR->setFont(skinFont(11));
    nameForScreenReaders(m_cmbSR, QStringLiteral("Finish sound"));

    m_chkMC = new QCheckBox(QStringLiteral("Music Cutter"), this);
    m_chkMC->setObjectName(QStringLiteral("chkMC"));
    m_chkMC->setGeometry(146, 64, 13, 13);
    connect(m_chkMC, &QCheckBox::clicked, this, &frmOptions::chkMC_Click);

    static const QRect boxes6[6] = {{94, 85, 19, 18},  {160, 85, 31, 18},  {230, 85, 43, 18},
                                    {94, 109, 19, 18}, {160, 109, 31, 18}, {230, 109, 43, 18}};
    static const char *const names[6] = {"txtFromH", "txtFromM", "txtFromS", "txtToH", "txtToM", "txtToS"};
    // The picture's captions of the rows ("From", "To") and the boxes ("hr", "min", "sec").
    static const char *const spoken[6] = {"From hours", "From minutes", "From seconds",
                                          "To hours",   "To minutes",   "To seconds"};
    for (int i = 0; i < 6; ++i) {
        auto *e = new QLineEdit(QStringLiteral("0"), this);
        e->setObjectName(QString::fromLatin1(names[i]));
        e->setProperty("zmBox", true);
        e->setGeometry(boxes6[i]);
        e->setFont(skinFont(10));
        e->setAlignment(Qt::AlignCenter);
        e->setAccessibleName(QString::fromLatin1(spoken[i]));
        if (i == FromH || i == ToH)
            e->setMaxLength(kHoursDigits);
        m_times[size_t(i)] = e;
    }

    m_okLight = skinPixmap(QStringLiteral("options_ok_light.png"));
    m_backLight = skinPixmap(QStringLiteral("options_back_light.png"));
    m_exitLight = skinPixmap(QStringLiteral("options_exit_light.png"));
    m_button = skinPixmap(QStringLiteral("arrow.png"));
    m_buttonLight = skinPixmap(QStringLiteral("arrow_light.png"));

    m_imgOK = new HotSpot(this, {166, 136, 58, 18}, QStringLiteral("Save the options"));
    m_imgBack = new HotSpot(this, {246, 136, 58, 18}, QStringLiteral("Back"));
    m_imgExit = new HotSpot(this, {299, 11, 15, 15}, QStringLiteral("Exit"));
    m_picButtonBR = new HotSpot(this, {290, 35, 19, 19});
    m_picButtonBR->setPicture(m_button);
    m_picButtonBR->setFocusPolicy(Qt::NoFocus); // part of the list, which Tab reaches
    m_picButtonBR->setAccessibleRole(QAccessible::ButtonDropDown);
    m_picButtonBR->setAccessibleName(m_cmbSR->accessibleName());
    m_imgOK->setAccessibleName(QStringLiteral("OK"));
    m_imgOK->setObjectName(QStringLiteral("imgOK"));
    m_imgBack->setObjectName(QStringLiteral("imgBack"));
    m_imgExit->setObjectName(QStringLiteral("imgExit"));
    m_picButtonBR->setObjectName(QStringLiteral("picButtonBR"));
    const QCursor hand = skinCursor();
    for (HotSpot *h : {m_imgOK, m_imgBack, m_imgExit})
        h->setCursor(hand);

    connect(m_imgOK, &HotSpot::hovered, this, [this] { m_imgOK->setPicture(m_okLight); });
    connect(m_imgBack, &HotSpot::hovered, this, [this] { m_imgBack->setPicture(m_backLight); });
    connect(m_imgExit, &HotSpot::hovered, this, [this] { m_imgExit->setPicture(m_exitLight); });
    connect(m_picButtonBR, &HotSpot::hovered, this, [this] { m_picButtonBR->setPicture(m_buttonLight); });
    connect(m_imgOK, &HotSpot::clicked, this, &frmOptions::imgOK_Click);
    connect(m_imgBack, &HotSpot::clicked, this, &frmOptions::imgBack_Click);
    connect(m_imgExit, &HotSpot::clicked, this, &frmOptions::imgExit_Click);
    connect(m_picButtonBR, &HotSpot::clicked, this, &frmOptions::picButtonBR_Click);

    const QList<QWidget *> chain{m_cmbSR,    m_chkMC,    m_times[0], m_times[1], m_times[2], m_times[3],
                                 m_times[4], m_times[5], m_imgOK,    m_imgBack,  m_imgExit};
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    new FocusMark(this);

    // Load: show the stored settings.
    const OptionsForm form = formFromSettings(m_settings);
    if (form.soundIndex >= 0 && form.soundIndex < m_cmbSR->count())
        m_cmbSR->setCurrentIndex(form.soundIndex);
    m_chkMC->setChecked(form.cutter);
    for (int i = 0; i < 6; ++i) {
        m_times[size_t(i)]->setText(form.times[size_t(i)]);
        m_times[size_t(i)]->setEnabled(form.cutter);
    }
}

void frmOptions::chkMC_Click()
{
    const bool on = m_chkMC->isChecked();
    for (QLineEdit *e : m_times)
        e->setEnabled(on);
}

void frmOptions::picButtonBR_Click()
{
    m_cmbSR->showPopup();
}

void frmOptions::imgOK_Click()
{
    OptionsForm form;
    form.soundIndex = m_cmbSR->currentIndex();
    form.cutter = m_chkMC->isChecked();
    for (int i = 0; i < 6; ++i)
        form.times[size_t(i)] = m_times[size_t(i)]->text();
    const OptionsVerdict v = judgeOptions(form);
    if (!v.accepted) {
        if (m_boxes)
            m_boxes->show(MsgIcon::Warning, QStringLiteral("Min"), v.message);
        m_times[size_t(v.focusBox)]->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!v.cutterChecked)
        m_chkMC->setChecked(false);
    // What is in force from now on is what the next start will read from the file.
    ProgramSettings stored = m_settings;
    applyOptionsIni(formatOptionsIni(v.values), stored);
    m_settings = stored;
    // A file that cannot be written loses only the saving.
    makeFolderFor(m_iniPath);
    writeOptionsIni(m_iniPath, m_settings);
    accept();
}

void frmOptions::keyPressEvent(QKeyEvent *event)
{
    // Enter in a box of the window is OK, as in any dialog; Escape is Back.
    if (isEnterKey(event)) {
        imgOK_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmOptions::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(0, 0, m_background);
}

void frmOptions::resetHotSpots()
{
    m_imgExit->clearPicture();
    m_imgBack->clearPicture();
    m_imgOK->clearPicture();
    m_picButtonBR->setPicture(m_button);
}

void frmOptions::mouseMoveEvent(QMouseEvent *event)
{
    resetHotSpots();
    QDialog::mouseMoveEvent(event);
}

void frmOptions::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QDialog::mousePressEvent(event);
}

} // namespace zm
