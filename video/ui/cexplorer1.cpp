#include "ui/cexplorer1.h"

#include "ui/videosite.h"

#include <QVBoxLayout>

#include <unistd.h>

#ifdef VIDEO_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

namespace vidrune {

namespace {

// The browser engine ends the whole process when it runs as root with its sandbox on; then the
// band stays empty instead.
bool SandboxAllowsBrowser()
{
    if (::geteuid() != 0)
        return true;
    if (!qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        return true;
    return qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS")
        .contains(QLatin1String("--no-sandbox"));
}

} // namespace

CExplorer1::CExplorer1(bool allowBrowser, QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
#ifdef VIDEO_HAVE_WEBENGINE
    if (allowBrowser && !VideoSite::BrowserDisabled() && SandboxAllowsBrowser()) {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *view = new QWebEngineView(this);
        view->setContextMenuPolicy(Qt::NoContextMenu);
        view->page()->setBackgroundColor(Qt::transparent);
        layout->addWidget(view);
        m_view = view;
    }
#else
    Q_UNUSED(allowBrowser);
#endif
}

void CExplorer1::Navigate2(const QUrl &address)
{
    m_address = address;
#ifdef VIDEO_HAVE_WEBENGINE
    if (auto *view = qobject_cast<QWebEngineView *>(m_view))
        view->load(address);
#endif
}

} // namespace vidrune
