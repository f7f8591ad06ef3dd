#pragma once
#include <QObject>
#include <QString>
#include <QStringList>

namespace zm {

// What the common dialogs need from the desktop; the window passes QFileDialog-based code,
// tests pass a scripted answer. An empty result means the user cancelled.
class FileDialogBackend
{
public:
    virtual ~FileDialogBackend() = default;
    // An open dialog for one or more existing files. `filters` is in Qt's ";;" form;
    // `*selectedFilter` is the entry preselected on the way in and the one last chosen on the
    // way out. No files means the user cancelled.
    virtual QStringList openFiles(QObject *owner, const QString &title, const QString &folder, const QString &filters,
                                  QString *selectedFilter) = 0;
    virtual QString chooseFolder(QObject *owner, const QString &prompt) = 0;
};

// The dialogs wrapper of the main window: set Title, Filter and FileName, call ShowOpen, read
// FileName back. Only the dialogs the program uses are here.
class CCommonDialogs final
{
public:
    explicit CCommonDialogs(FileDialogBackend *backend) : m_backend(backend) {}
    Q_DISABLE_COPY_MOVE(CCommonDialogs)

    void Init(QObject *owner) { m_owner = owner; }

    QString Title() const { return upToNul(m_title); }
    void setTitle(const QString &v) { m_title = v; }
    QString Path() const { return upToNul(m_path); }
    QString FileTitle() const { return upToNul(m_fileTitle); }
    QString Filter() const { return m_filter; }
    void setFilter(const QString &v) { m_filter = v; }
    QString FileName() const { return upToNul(m_fileName); }
    void setFileName(const QString &v) { m_fileName = v; }

    // Open dialog starting in the process's current folder, for one or several files. On
    // success FileNames holds the chosen files in the order the dialog shows them (natural name
    // order), FileName, FileTitle and Path describe the first, and the current folder becomes its
    // folder. The filter chosen last is preselected the next time, for as long as this object
    // lives (the first entry before that).
    bool ShowOpen();
    QStringList FileNames() const { return m_fileNames; }
    // Folder browser with `Title` as its prompt; on success Path holds the folder.
    bool ShowFolder();

    // "desc|pattern|desc|pattern" -> Qt's "desc (patterns);;..." form. Patterns match both
    // letter cases, as they do on the system the filter was written for.
    static QString toQtFilter(const QString &pipeFilter);

private:
    static QString upToNul(const QString &s);

    FileDialogBackend *m_backend;
    QObject *m_owner = nullptr;
    QString m_fileTitle, m_path, m_filter, m_fileName, m_title;
    QStringList m_fileNames;
    QString m_chosenFilter; // in Qt's form, remembered between two dialogs
};

} // namespace zm
