#pragma once
#include <QString>
#include <QUrl>

namespace zm {

// The three fields of the feedback window, checked in order: the first empty one is asked for.
enum class FeedbackField { None = -1, Name = 0, EMail = 1, Comment = 2 };

struct FeedbackCheck {
    FeedbackField missing = FeedbackField::None;
    QString prompt; // "Your Name?", "Your Email?", "Comment?"
};

FeedbackCheck checkFeedback(const QString &name, const QString &email, const QString &comment);

// base + "/suggest/post.php?name=" + name + "&age=" + email + "&comment=" + comment, each field
// percent-encoded as UTF-8 (so "&", blanks and any letter arrive intact). `base` is
// "http://host[:port]" without a trailing "/".
QUrl feedbackUrl(const QString &base, const QString &name, const QString &email, const QString &comment);

// Field limits of the window.
inline constexpr int kNameMax = 50;
inline constexpr int kEMailMax = 100;
inline constexpr int kCommentMax = 256;

} // namespace zm
