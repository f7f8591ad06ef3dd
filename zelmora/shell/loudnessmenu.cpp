// Options, "Loudness": Off, "Tag Only (track and album)", "Normalise to" and "Normalise Albums to"
// with their targets. The
// choices act directly (no command word); the batch gets them, zelmora.conf keeps them.
#include "shell/frmmain.h"

#include <QActionGroup>
#include <QMenu>

namespace zm {

namespace {
constexpr char kChoiceProperty[] = "zmLoudness"; // the setting's text of an action
} // namespace

void frmMain::buildLoudnessMenu()
{
    // Before "Simultaneous Conversions", which stays the last item.
    m_menuLoudness = new QMenu(QStringLiteral("Loudness"), m_menuOptions);
    m_menuLoudness->setObjectName(QStringLiteral("menuLoudness"));
    m_menuOptions->insertMenu(m_menuJobs->menuAction(), m_menuLoudness);
    auto *group = new QActionGroup(m_menuLoudness);
    const auto add = [this, group](QMenu *menu, const QString &caption, const LoudnessChoice &choice) {
        QAction *a = menu->addAction(caption);
        a->setCheckable(true);
        a->setProperty(kChoiceProperty, loudnessSettingText(choice));
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, choice] { setLoudnessChoice(choice); });
    };
    add(m_menuLoudness, QStringLiteral("Off"), LoudnessChoice{});
    add(m_menuLoudness, QStringLiteral("Tag Only (track and album)"), LoudnessChoice{true, std::nullopt});
    QMenu *normalise = m_menuLoudness->addMenu(QStringLiteral("Normalise to"));
    normalise->setObjectName(QStringLiteral("menuNormalise"));
    for (double lufs : normaliseTargets())
        add(normalise, normaliseCaption(lufs), LoudnessChoice{false, lufs});
    QMenu *albums = m_menuLoudness->addMenu(QStringLiteral("Normalise Albums to"));
    albums->setObjectName(QStringLiteral("menuNormaliseAlbums"));
    for (double lufs : normaliseTargets())
        add(albums, normaliseCaption(lufs), LoudnessChoice{false, lufs, true});
}

void frmMain::setLoudnessChoice(const LoudnessChoice &choice, bool keep)
{
    m_loudness = choice;
    m_batch->setLoudness(replayGainFor(choice), choice.normalize);
    if (keep)
        writeLoudnessSetting(m_store.locations().jobsConf(), choice);
    const QString text = loudnessSettingText(choice);
    for (QAction *a : m_menuLoudness->findChildren<QAction *>())
        if (a->isCheckable())
            a->setChecked(a->property(kChoiceProperty).toString() == text);
}

} // namespace zm
