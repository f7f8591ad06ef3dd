#pragma once
#include "settings/batchoptions.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace zm {

// The one question before a batch whose outputs already exist: "N output files already exist."
// with Replace, Skip, Keep Both and Cancel, and "Remember my choice".
class frmExisting final : public QDialog
{
    Q_OBJECT
public:
    explicit frmExisting(int existing, QWidget *parent = nullptr);

    // The answer: Replace, Skip or Number (Keep Both); Ask when the batch was cancelled.
    ExistingChoice choice() const { return m_choice; }
    bool remember() const;

    QLabel *message() const { return m_message; }
    QPushButton *button(ExistingChoice choice) const;
    QPushButton *cancelButton() const { return m_cancel; }
    QCheckBox *rememberBox() const { return m_remember; }

private:
    ExistingChoice m_choice = ExistingChoice::Ask;
    QLabel *m_message;
    QPushButton *m_replace, *m_skip, *m_number, *m_cancel;
    QCheckBox *m_remember;
};

} // namespace zm
