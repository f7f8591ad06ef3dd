#pragma once

#include <QDialog>
#include <QPixmap>

namespace vidrune {

class CControlButton;

// The About dialog: background bitmap 158, our contact address, and the (hidden) skinned
// close button; the title bar's close box ends it the same way.
class Dg3 final : public QDialog
{
    Q_OBJECT
public:
    explicit Dg3(QWidget *parent = nullptr);

    CControlButton *CloseButton() const { return m_close; }
    void OnCloseButton();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void OnPaint();
    static void OnCtlColor(QWidget *control);

    CControlButton *m_close = nullptr;
    QPixmap m_background;
};

} // namespace vidrune
