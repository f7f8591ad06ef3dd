// The main dialog's controls as template 102 places them, the file list's columns, and the
// order Tab takes through them.
#include "ui/cvideodlg.h"

#include "core/converterprogress.h"
#include "ui/ccontrolbutton.h"
#include "ui/cexplorer1.h"
#include "ui/dialogunits.h"
#include "gui/focusmark.h"
#include "ui/videoskin.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

namespace vidrune {

namespace {

// The About button: shows its bitmap in every state.
class BitmapPushButton final : public QPushButton
{
public:
    BitmapPushButton(const QString &text, QPixmap pixmap, QWidget *parent)
        : QPushButton(text, parent), m_pixmap(std::move(pixmap))
    {
        setFlat(true);
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (m_pixmap.isNull()) {
            QPushButton::paintEvent(event);
            return;
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), m_pixmap);
    }

private:
    QPixmap m_pixmap;
};

} // namespace

QLabel *CvideoDlg::AddLabel(const QString &text, int x, int y, int w, int h)
{
    auto *label = new QLabel(text, this);
    // Labels are transparent and show the background bitmap. The font's line is a little
    // taller than the 8-unit rectangle; the label grows downwards so no glyph is cut.
    QRect r = DialogUnits::Rect(x, y, w, h);
    r.setHeight(std::max(r.height(), label->fontMetrics().height()));
    label->setGeometry(r);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    OnCtlColor(label);
    return label;
}

QPushButton *CvideoDlg::AddButton(int id, const QString &text, int x, int y, int w, int h)
{
    auto *button = new QPushButton(text, this);
    button->setGeometry(DialogUnits::Rect(x, y, w, h));
    button->setAutoDefault(false);
    button->setObjectName(QStringLiteral("c%1").arg(id));
    m_controls.insert(id, button);
    return button;
}

QComboBox *CvideoDlg::AddCombo(int id, int x, int y, int w)
{
    auto *combo = new QComboBox(this);
    // The closed list is one line high; the template's height is that of the opened list.
    QRect r = DialogUnits::Rect(x, y, w, 12);
    r.setHeight(DialogUnits::ClosedListHeight);
    combo->setGeometry(r);
    combo->setObjectName(QStringLiteral("c%1").arg(id));
    m_controls.insert(id, combo);
    m_combos[static_cast<std::size_t>(id - FirstSettingList)] = combo;
    connect(combo, &QComboBox::activated, this,
            [this, id](int index) { OnSettingActivated(id, index); });
    return combo;
}

void CvideoDlg::Name(QLabel *label, QWidget *control)
{
    // A combo box speaks its chosen entry as its name on this platform; the label relation
    // (the buddy) is how a screen reader learns what the list is for.
    label->setBuddy(control);
    QString name = label->text();
    if (name.endsWith(QStringLiteral("：")))
        name.chop(1);
    control->setAccessibleName(name);
}

void CvideoDlg::CreateControls(bool browser)
{
    auto *about = new BitmapPushButton(QStringLiteral("关于"), VideoSkin::Bitmap(139), this);
    about->setGeometry(DialogUnits::Rect(41, 2, 33, 12));
    about->setObjectName(QStringLiteral("c1023"));
    m_controls.insert(1023, about);
    connect(about, &QPushButton::clicked, this, &CvideoDlg::OnAbout);

    m_minimize = new CControlButton(QStringLiteral("最小"), this);
    m_minimize->setGeometry(DialogUnits::Rect(407, 3, 20, 12));
    m_minimize->setObjectName(QStringLiteral("c1024"));
    m_minimize->hide();
    m_controls.insert(1024, m_minimize);
    connect(m_minimize, &QPushButton::clicked, this, &CvideoDlg::OnMinimizeButton);
    m_close = new CControlButton(QStringLiteral("关闭"), this);
    m_close->setGeometry(DialogUnits::Rect(429, 3, 20, 12));
    m_close->setObjectName(QStringLiteral("c1025"));
    m_close->hide();
    m_controls.insert(1025, m_close);
    connect(m_close, &QPushButton::clicked, this, &CvideoDlg::OnCloseButton);

    m_browser = new CExplorer1(browser, this);
    m_browser->setGeometry(DialogUnits::Rect(4, 17, 447, 46));
    m_browser->setObjectName(QStringLiteral("c1026"));
    m_browser->setAccessibleName(QStringLiteral("使用提示"));
    m_controls.insert(1026, m_browser);

    QLabel *step1 = AddLabel(QStringLiteral("第一步：加入视频文件"), 8, 71, 74, 8);
    m_listView = new QTableView(this);
    Name(step1, m_listView);
    // Tab leaves the list for the next control instead of walking its cells.
    m_listView->setTabKeyNavigation(false);
    m_listView->setGeometry(DialogUnits::Rect(8, 89, 210, 102));
    m_listView->setObjectName(QStringLiteral("c1019"));
    m_listView->setModel(&m_fileList);
    m_listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView->setShowGrid(true);
    m_listView->setWordWrap(false);
    m_listView->setTextElideMode(Qt::ElideLeft);
    m_listView->verticalHeader()->hide();
    m_listView->verticalHeader()->setDefaultSectionSize(DialogUnits::FontPixels + 6);
    m_listView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_listView->horizontalHeader()->setHighlightSections(false);
    m_listView->setColumnWidth(FileListModel::PathColumn, 290);
    m_listView->setColumnWidth(FileListModel::StatusColumn, 74);
    m_listView->viewport()->installEventFilter(this);
    m_listView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listView, &QWidget::customContextMenuRequested, this,
            &CvideoDlg::OnFileListContextMenu);
    m_controls.insert(1019, m_listView);

    connect(AddButton(1000, QStringLiteral("添加"), 8, 194, 41, 15), &QPushButton::clicked, this,
            &CvideoDlg::OnAddFile);
    connect(AddButton(1001, QStringLiteral("删除"), 49, 194, 42, 15), &QPushButton::clicked, this,
            &CvideoDlg::OnDeleteFile);
    connect(AddButton(1002, QStringLiteral("清空"), 91, 194, 43, 15), &QPushButton::clicked, this,
            &CvideoDlg::OnClearList);
    connect(AddButton(1003, QStringLiteral("上移"), 133, 194, 42, 15), &QPushButton::clicked, this,
            &CvideoDlg::OnMoveUp);
    connect(AddButton(1004, QStringLiteral("下移"), 175, 194, 43, 15), &QPushButton::clicked, this,
            &CvideoDlg::OnMoveDown);

    // Each setting list with the label that names it: label text and position, list id and
    // position (the height of a closed list is fixed).
    struct Setting {
        const char *label;
        int lx, ly, lw;
        int id, x, y, w;
    };
    static constexpr Setting settings[] = {
        {"第二步：选择输出格式", 225, 71, 72, FormatList, 230, 89, 217},
        {"视频编码", 230, 124, 28, VideoCodecList, 260, 122, 74},
        {"画面质量", 230, 139, 30, VideoBitRateList, 260, 136, 74},
        {"视频大小", 230, 153, 30, FrameSizeList, 260, 151, 74},
        {"视频帧率", 342, 124, 30, FrameRateList, 372, 122, 75},
        {"屏幕比例", 342, 139, 30, AspectList, 372, 136, 75},
        {"音频编码", 230, 183, 28, AudioCodecList, 260, 181, 74},
        {"声音质量", 230, 197, 28, AudioBitRateList, 260, 195, 74},
        {"声音频率", 342, 183, 30, SampleRateList, 372, 181, 75},
        {"音频声道", 342, 199, 30, ChannelsList, 372, 195, 75},
    };
    for (const Setting &c : settings) {
        if (c.id == VideoCodecList)
            AddLabel(QStringLiteral("视频参数设置"), 230, 109, 42, 8);
        else if (c.id == AudioCodecList)
            AddLabel(QStringLiteral("音频参数设置"), 230, 169, 42, 8);
        Name(AddLabel(QString::fromUtf8(c.label), c.lx, c.ly, c.lw, 8),
             AddCombo(c.id, c.x, c.y, c.w));
    }

    QLabel *step3 = AddLabel(QStringLiteral("第三步：选择输出目录"), 6, 215, 70, 8);
    m_outputFolder = new QLineEdit(this);
    Name(step3, m_outputFolder);
    m_outputFolder->setGeometry(DialogUnits::Rect(7, 227, 144, 15));
    m_outputFolder->setObjectName(QStringLiteral("c1007"));
    m_controls.insert(1007, m_outputFolder);
    connect(AddButton(1005, QStringLiteral("设置输出目录"), 155, 226, 65, 17),
            &QPushButton::clicked, this, &CvideoDlg::OnBrowseOutputFolder);

    AddLabel(QStringLiteral("第四步：开始转换"), 225, 215, 56, 8);
    connect(AddButton(1006, QStringLiteral("立即转换"), 301, 226, 62, 17), &QPushButton::clicked,
            this, &CvideoDlg::OnConvert);

    QLabel *progressLabel = AddLabel(QStringLiteral("进度显示："), 6, 246, 35, 8);
    m_progress = new QProgressBar(this);
    Name(progressLabel, m_progress);
    m_progress->setGeometry(DialogUnits::Rect(43, 247, 402, 6));
    m_progress->setObjectName(QStringLiteral("c1008"));
    m_progress->setRange(0, ConverterProgress::Complete);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_controls.insert(1008, m_progress);

    m_focusMark = new batch::FocusMark(this, VideoSkin::FocusMarkStyle());
}

QList<QWidget *> CvideoDlg::TabChain() const
{
    // Top to bottom, left to right, each step's controls before the next step's: About, the
    // title buttons (when shown), the list and its buttons, the format and its settings
    // column by column, the output folder, convert.
    QList<QWidget *> chain;
    for (int id : {1023, 1024, 1025, 1019, 1000, 1001, 1002, 1003, 1004})
        chain << m_controls.value(id);
    for (QComboBox *combo : m_combos)
        chain << combo;
    for (int id : {1007, 1005, 1006})
        chain << m_controls.value(id);
    return chain;
}

bool CvideoDlg::focusNextPrevChild(bool next)
{
    const QList<QWidget *> chain = TabChain();
    const qsizetype count = chain.size();
    // The control that holds the focus (a combo box's own children count as the combo box).
    qsizetype at = -1;
    for (QWidget *w = focusWidget(); w && w != this && at < 0; w = w->parentWidget())
        at = chain.indexOf(w);
    for (qsizetype step = 1; step <= count; ++step) {
        const qsizetype i = at < 0 ? (next ? step - 1 : count - step)
                                   : ((at + (next ? step : -step)) % count + count) % count;
        QWidget *candidate = chain.at(i);
        if (candidate->isVisible() && candidate->isEnabled()
            && (candidate->focusPolicy() & Qt::TabFocus)) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QDialog::focusNextPrevChild(next);
}

} // namespace vidrune
