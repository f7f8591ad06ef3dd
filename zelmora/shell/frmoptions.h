#pragma once
#include "engine/programsettings.h"
#include "settings/optionsrules.h"

#include <QDialog>
#include <QImage>
#include <array>

class QComboBox;
class QCheckBox;
class QLineEdit;

namespace zm {

class HotSpot;
class MessageBoxes;

// The Music Cutter options window: finish sound, cutter on/off, From and To times. OK checks
// the times, stores them in the program-wide settings and writes options.ini.
class frmOptions final : public QDialog
{
    Q_OBJECT
public:
    frmOptions(ProgramSettings &settings, QString optionsIniPath, MessageBoxes *boxes, QWidget *parent = nullptr);

    void imgOK_Click();
    void imgBack_Click() { reject(); }
    void imgExit_Click() { reject(); }
    void picButtonBR_Click();
    void chkMC_Click();

    QComboBox *cmbSR() const { return m_cmbSR; }
    QCheckBox *chkMC() const { return m_chkMC; }
    QLineEdit *timeBox(int i) const { return m_times[size_t(i)]; }
    HotSpot *imgOK() const { return m_imgOK; }
    HotSpot *imgBack() const { return m_imgBack; }
    HotSpot *imgExit() const { return m_imgExit; }
    HotSpot *picButtonBR() const { return m_picButtonBR; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void resetHotSpots();

    ProgramSettings &m_settings;
    QString m_iniPath;
    MessageBoxes *m_boxes;
    QImage m_background;
    QComboBox *m_cmbSR;
    QCheckBox *m_chkMC;
    std::array<QLineEdit *, 6> m_times{};
    HotSpot *m_imgOK, *m_imgBack, *m_imgExit, *m_picButtonBR;
    QPixmap m_okLight, m_backLight, m_exitLight, m_button, m_buttonLight;
};

} // namespace zm
