#pragma once

#include <QUrl>
#include <QWidget>

namespace vidrune {

// The band across the top of the main dialog: a web view showing our page when one can be
// created, otherwise an empty, transparent band (the dialog needs nothing from it).
class CExplorer1 final : public QWidget
{
    Q_OBJECT
public:
    // `allowBrowser` false (or VIDEO_NO_BROWSER set, or no web engine in this build) leaves
    // the band empty.
    explicit CExplorer1(bool allowBrowser, QWidget *parent = nullptr);

    // Shows the page at `address`; nothing happens when the band is empty.
    void Navigate2(const QUrl &address);

    bool HasBrowser() const { return m_view != nullptr; }
    QUrl LastAddress() const { return m_address; }

private:
    QWidget *m_view = nullptr;
    QUrl m_address;
};

} // namespace vidrune
