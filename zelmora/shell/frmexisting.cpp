#include "shell/frmexisting.h"

#include "engine/seams.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace zm {

frmExisting::frmExisting(int existing, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmExisting"));
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setModal(true);

    auto *icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    m_message = new QLabel(QStringLiteral("%1 output files already exist.").arg(existing), this);
    m_message->setObjectName(QStringLiteral("message"));
    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(m_message, 1);

    m_remember = new QCheckBox(QStringLiteral("Remember my choice"), this);
    auto *buttons = new QDialogButtonBox(this);
    m_replace = buttons->addButton(QStringLiteral("Replace"), QDialogButtonBox::AcceptRole);
    m_skip = buttons->addButton(QStringLiteral("Skip"), QDialogButtonBox::AcceptRole);
    m_number = buttons->addButton(QStringLiteral("Keep Both"), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    m_number->setToolTip(QStringLiteral("The new outputs get numbered names: \"name (2).mp3\""));
    // The safe answer is the default one: nothing is replaced by pressing Enter.
    m_number->setDefault(true);
    const std::pair<QPushButton *, ExistingChoice> answers[] = {
        {m_replace, ExistingChoice::Replace}, {m_skip, ExistingChoice::Skip}, {m_number, ExistingChoice::Number}};
    for (const auto &[b, c] : answers)
        connect(b, &QPushButton::clicked, this, [this, c = c] {
            m_choice = c;
            accept();
        });
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_choice = ExistingChoice::Ask;
        reject();
    });

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_remember);
    layout->addWidget(buttons);
}

bool frmExisting::remember() const
{
    return m_choice != ExistingChoice::Ask && m_remember->isChecked();
}

QPushButton *frmExisting::button(ExistingChoice choice) const
{
    switch (choice) {
    case ExistingChoice::Replace:
        return m_replace;
    case ExistingChoice::Skip:
        return m_skip;
    case ExistingChoice::Number:
        return m_number;
    case ExistingChoice::Ask:
        break;
    }
    return m_cancel;
}

} // namespace zm
