#pragma once
#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QTimer>

class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;

namespace zm {

class HotSpot;

// The feedback window: name, e-mail and comment, sent once per opening as one HTTP GET to the
// program's web site. "Sending..." until a page has come back, then "Finished."; no answer
// (no network, no server, or nothing back within 15 s) gives "Failed to send." and Send may be
// pressed again.
class frmSuggest final : public QDialog
{
    Q_OBJECT
public:
    // A request without an answer this long has failed: "Failed to send.", Send works again.
    static constexpr int kAnswerTimeoutMs = 15000;

    explicit frmSuggest(QString webBase, QWidget *parent = nullptr);
    ~frmSuggest() override;

    // How long a request may wait for its answer (kAnswerTimeoutMs unless changed; tests make it
    // short).
    void setAnswerTimeoutMs(int ms) { m_answerTimeoutMs = ms; }
    int answerTimeoutMs() const { return m_answerTimeoutMs; }

    void imgSend_Click();
    void imgBack_Click() { reject(); }
    void imgExit_Click() { reject(); }

    QLineEdit *txtName() const { return m_txtName; }
    QLineEdit *txtEMail() const { return m_txtEMail; }
    QLineEdit *txtComment() const { return m_txtComment; }
    QLabel *lblSending() const { return m_lblSending; }
    HotSpot *imgSend() const { return m_imgSend; }
    HotSpot *imgBack() const { return m_imgBack; }
    HotSpot *imgExit() const { return m_imgExit; }

signals:
    void requestFinished();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void wb_DocumentComplete(QNetworkReply *reply);

    QString m_base;
    QImage m_background;
    QLineEdit *m_txtName, *m_txtEMail, *m_txtComment;
    QLabel *m_lblSending;
    HotSpot *m_imgSend, *m_imgBack, *m_imgExit;
    QPixmap m_sendLight, m_backLight, m_exitLight;
    QNetworkAccessManager *m_wb;
    QPointer<QNetworkReply> m_reply;
    QTimer m_answerTimer;
    int m_answerTimeoutMs = kAnswerTimeoutMs;
};

} // namespace zm
