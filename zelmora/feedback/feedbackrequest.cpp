#include "feedback/feedbackrequest.h"

namespace zm {

FeedbackCheck checkFeedback(const QString &name, const QString &email, const QString &comment)
{
    if (name.isEmpty())
        return {FeedbackField::Name, QStringLiteral("Your Name?")};
    if (email.isEmpty())
        return {FeedbackField::EMail, QStringLiteral("Your Email?")};
    if (comment.isEmpty())
        return {FeedbackField::Comment, QStringLiteral("Comment?")};
    return {};
}

QUrl feedbackUrl(const QString &base, const QString &name, const QString &email, const QString &comment)
{
    QByteArray url = base.toUtf8();
    while (url.endsWith('/'))
        url.chop(1);
    url += "/suggest/post.php?name=" + QUrl::toPercentEncoding(name) + "&age=" + QUrl::toPercentEncoding(email)
           + "&comment=" + QUrl::toPercentEncoding(comment);
    return QUrl::fromEncoded(url, QUrl::StrictMode);
}

} // namespace zm
