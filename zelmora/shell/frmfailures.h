#pragma once
#include "engine/batchreport.h"

#include <QDialog>

class QListWidget;
class QPushButton;

namespace zm {

class DesktopShell;

// The files a batch could not convert: a window that fits on the screen, each file once with
// the converter's reason below it in a scrolling list, "Copy" (the whole list to the
// clipboard), "Open Log Folder" (the batch's converter logs), "Add Back to Queue" (the files
// join the queue again, once) and OK.
class frmFailures final : public QDialog
{
    Q_OBJECT
public:
    frmFailures(const BatchOutcome &outcome, DesktopShell *shell, QWidget *parent = nullptr);

    QListWidget *list() const { return m_list; }
    QPushButton *copyButton() const { return m_copy; }
    QPushButton *logButton() const { return m_logs; }
    QPushButton *addBackButton() const { return m_addBack; }

signals:
    // Add Back to Queue was pressed: these files are to be queued again.
    void addBackRequested(const QList<zm::FailedFile> &files);

private:
    QListWidget *m_list;
    QPushButton *m_copy, *m_logs, *m_addBack;
};

} // namespace zm
