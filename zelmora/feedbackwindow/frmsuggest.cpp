#include "feedbackwindow/frmsuggest.h"

#include "feedback/feedbackrequest.h"
#include "skin/focusmark.h"
#include "skin/hotspot.h"
#include "skin/skin.h"

#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QWindow>

namespace zm {

frmSuggest::frmSuggest(QString webBase, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_base(std::move(webBase))
{
    setObjectName(QStringLiteral("frmSuggest"));
    setWindowTitle(QStringLiteral("FeedBack"));
    setModal(true);
    setFixedSize(326, 174);
    setMouseTracking(true);
    m_background = skinBackground(QStringLiteral("suggest.png"), QSize(330, 180));
    ApplySkinColourKey(this, m_background);
    centreOnScreen(this); // on the screen, not over the main window

    // Screen readers know the fields by the captions the picture draws beside them.
    auto field = [this](const char *name, const QRect &r, int max, const QString &tip, const QString &caption) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setProperty("zmBox", true);
        e->setGeometry(r);
        e->setMaxLength(max);
        e->setFont(skinFont(11));
        if (!tip.isEmpty())
            e->setToolTip(tip);
        e->setAccessibleName(caption);
        return e;
    };
    m_txtName = field("txtName", {110, 50, 141, 21}, kNameMax, QStringLiteral("Your Name"), QStringLiteral("Name"));
    m_txtEMail = field("txtEMail", {110, 76, 141, 21}, kEMailMax, QStringLiteral("Email"), QStringLiteral("E-mail"));
    m_txtComment = field("txtComment", {110, 102, 189, 21}, kCommentMax, QString(), QStringLiteral("Comment"));

    m_lblSending = new QLabel(this);
    m_lblSending->setObjectName(QStringLiteral("lblSending"));
    // Wide enough for "Failed to send." (the Send button starts at 166).
    m_lblSending->setGeometry(48, 138, 110, 14);
    m_lblSending->setFont(skinFont(11));
    m_lblSending->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    m_lblSending->hide();

    m_sendLight = skinPixmap(QStringLiteral("suggest_send_light.png"));
    m_backLight = skinPixmap(QStringLiteral("suggest_back_light.png"));
    m_exitLight = skinPixmap(QStringLiteral("suggest_exit_light.png"));
    m_imgSend = new HotSpot(this, {166, 136, 58, 18}, QStringLiteral("Send your feedback now"));
    m_imgBack = new HotSpot(this, {246, 136, 58, 18}, QStringLiteral("back to main"));
    m_imgExit = new HotSpot(this, {300, 11, 15, 15}, QStringLiteral("Exit"));
    const QCursor hand = skinCursor();
    for (HotSpot *h : {m_imgSend, m_imgBack, m_imgExit})
        h->setCursor(hand);
    connect(m_imgSend, &HotSpot::hovered, this, [this] { m_imgSend->setPicture(m_sendLight); });
    connect(m_imgBack, &HotSpot::hovered, this, [this] { m_imgBack->setPicture(m_backLight); });
    connect(m_imgExit, &HotSpot::hovered, this, [this] { m_imgExit->setPicture(m_exitLight); });
    connect(m_imgSend, &HotSpot::clicked, this, &frmSuggest::imgSend_Click);
    connect(m_imgBack, &HotSpot::clicked, this, &frmSuggest::imgBack_Click);
    connect(m_imgExit, &HotSpot::clicked, this, &frmSuggest::imgExit_Click);
    // Their captions in the picture; the tool tips describe them.
    m_imgSend->setAccessibleName(QStringLiteral("Send"));
    m_imgBack->setAccessibleName(QStringLiteral("Back"));
    m_imgSend->setObjectName(QStringLiteral("imgSend"));
    m_imgBack->setObjectName(QStringLiteral("imgBack"));
    m_imgExit->setObjectName(QStringLiteral("imgExit"));

    const QList<QWidget *> chain{m_txtName, m_txtEMail, m_txtComment, m_imgSend, m_imgBack, m_imgExit};
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    new FocusMark(this);

    m_wb = new QNetworkAccessManager(this);
    connect(m_wb, &QNetworkAccessManager::finished, this, &frmSuggest::wb_DocumentComplete);
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may give up to 5 % early
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        if (m_reply)
            m_reply->abort(); // finishes the reply without a page: "Failed to send."
    });
}

frmSuggest::~frmSuggest()
{
    // Closing abandons a request still under way.
    if (m_reply)
        m_reply->abort();
}

void frmSuggest::imgSend_Click()
{
    if (!m_imgSend->isEnabled())
        return;
    const FeedbackCheck check = checkFeedback(m_txtName->text(), m_txtEMail->text(), m_txtComment->text());
    if (check.missing != FeedbackField::None) {
        m_lblSending->setText(check.prompt);
        m_lblSending->show();
        QLineEdit *boxes[] = {m_txtName, m_txtEMail, m_txtComment};
        boxes[int(check.missing)]->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_lblSending->setText(QStringLiteral("Sending..."));
    m_lblSending->show();
    m_imgSend->setEnabled(false);
    m_imgSend->clearPicture();
    QNetworkRequest request(feedbackUrl(m_base, m_txtName->text(), m_txtEMail->text(), m_txtComment->text()));
    m_reply = m_wb->get(request);
    m_answerTimer.start(m_answerTimeoutMs);
}

void frmSuggest::wb_DocumentComplete(QNetworkReply *reply)
{
    reply->deleteLater();
    m_answerTimer.stop();
    // A page came back (whatever it says): finished, and this window sends no more. No page at
    // all: the user may try again.
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        m_lblSending->setText(QStringLiteral("Finished."));
    } else {
        m_lblSending->setText(QStringLiteral("Failed to send."));
        m_imgSend->setEnabled(true);
    }
    emit requestFinished();
}

void frmSuggest::keyPressEvent(QKeyEvent *event)
{
    // Enter in a field sends, as in any dialog; Escape is Back.
    if (isEnterKey(event)) {
        imgSend_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmSuggest::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(0, 0, m_background);
}

void frmSuggest::mouseMoveEvent(QMouseEvent *event)
{
    m_imgExit->clearPicture();
    m_imgBack->clearPicture();
    m_imgSend->clearPicture();
    QDialog::mouseMoveEvent(event);
}

void frmSuggest::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QDialog::mousePressEvent(event);
}

} // namespace zm
