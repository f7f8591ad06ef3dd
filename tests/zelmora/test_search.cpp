#include "feedback/feedbackrequest.h"
#include "queue/filesearch.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <map>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace zm;

namespace {

void touch(const QString &p)
{
    QFile f(p);
    f.open(QIODevice::WriteOnly);
}

// A made-up tree: folder -> entries in listing order; a folder missing from the map cannot be read.
FolderLister fakeTree(const std::map<QString, std::vector<FolderEntry>> &tree)
{
    return [tree](const QString &folder) -> std::optional<std::vector<FolderEntry>> {
        const auto it = tree.find(folder);
        if (it == tree.end())
            return std::nullopt;
        return it->second;
    };
}

} // namespace

TEST(FolderSearch, OrderFilesFirstThenSubfoldersDepthFirst)
{
    const auto lister = fakeTree({
        {"/r", {{"b.flv", false}, {"s2", true}, {"a.txt", false}, {"s1", true}, {"Thumbs.db", false}}},
        {"/r/s1", {{"deep", true}, {"x.avi", false}}},
        {"/r/s1/deep", {{"y.mp4", false}}},
        {"/r/s2", {{"z.wmv", false}}},
    });
    QStringList found;
    SearchFolder(QStringLiteral("/r"), found, lister);
    EXPECT_EQ(found,
              (QStringList{"/r/a.txt", "/r/b.flv", "/r/Thumbs.db", "/r/s1/x.avi", "/r/s1/deep/y.mp4", "/r/s2/z.wmv"}));
}

TEST(FolderSearch, NaturalNameOrderAndOnlyRegularFiles)
{
    struct Row {
        const char *name;
        std::vector<FolderEntry> listing; // in the file system's order
        QStringList expected;
    };
    const Row rows[] = {
        {"numbers by value",
         {{"clip 13.flv"}, {"clip 08.flv"}, {"clip 9.flv"}, {"clip 12.flv"}, {"clip 100.flv"}},
         {"clip 08.flv", "clip 9.flv", "clip 12.flv", "clip 13.flv", "clip 100.flv"}},
        {"letter case aside",
         {{"beta.mp4"}, {"Alpha.mp4"}, {"Gamma.mp4"}, {"delta.mp4"}},
         {"Alpha.mp4", "beta.mp4", "delta.mp4", "Gamma.mp4"}},
        {"FIFOs, sockets and broken links stay out",
         {{"b.flv"}, {"pipe", false, false}, {"a.flv"}, {"sock", false, false}},
         {"a.flv", "b.flv"}},
    };
    for (const Row &r : rows) {
        QStringList found;
        SearchFolder(QStringLiteral("/r"), found, fakeTree({{"/r", r.listing}}));
        QStringList names;
        for (const QString &f : found)
            names << f.mid(3);
        EXPECT_EQ(names, r.expected) << r.name;
    }
    // Subfolders in natural order too: "disc 2" before "disc 10".
    QStringList found;
    SearchFolder(
        QStringLiteral("/r"), found,
        fakeTree(
            {{"/r", {{"disc 10", true}, {"disc 2", true}}}, {"/r/disc 10", {{"t.flv"}}}, {"/r/disc 2", {{"t.flv"}}}}));
    EXPECT_EQ(found, (QStringList{"/r/disc 2/t.flv", "/r/disc 10/t.flv"}));
}

TEST(FolderSearch, RealFifoSocketAndBrokenLinkAreNotQueued)
{
    QTemporaryDir dir;
    const QString r = dir.path();
    touch(r + QStringLiteral("/clip 10.flv"));
    touch(r + QStringLiteral("/clip 9.flv"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(r + QStringLiteral("/pipe.flv")).constData(), 0600), 0);
    ASSERT_EQ(::symlink("missing.flv", QFile::encodeName(r + QStringLiteral("/broken.flv")).constData()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = QFile::encodeName(r + QStringLiteral("/s.sock"));
    ASSERT_LT(size_t(sockPath.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.constData(), size_t(sockPath.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    QStringList found;
    SearchFolder(r, found);
    ::close(sock);
    EXPECT_EQ(found, (QStringList{r + "/clip 9.flv", r + "/clip 10.flv"}));

    // Dropped: files as they are, a folder searched, the FIFO and a missing path left out.
    QDir().mkpath(r + QStringLiteral("/sub"));
    touch(r + QStringLiteral("/sub/b.avi"));
    touch(r + QStringLiteral("/sub/a.avi"));
    const QStringList dropped{r + "/clip 10.flv", r + "/pipe.flv", r + "/sub", r + "/gone.flv", r + "/clip 9.flv"};
    EXPECT_EQ(queueableDroppedPaths(dropped),
              (QStringList{r + "/clip 10.flv", r + "/sub/a.avi", r + "/sub/b.avi", r + "/clip 9.flv"}));
}

TEST(FolderSearch, UnreadableFoldersAndEdgeCases)
{
    struct Row {
        const char *name;
        std::map<QString, std::vector<FolderEntry>> tree;
        QString start;
        QStringList expected;
    };
    const Row rows[] = {
        {"unreadable sibling skipped",
         {{"/r", {{"locked", true}, {"open", true}}}, {"/r/open", {{"f", false}}}},
         "/r",
         {"/r/open/f"}},
        {"unreadable start", {}, "/nowhere", {}},
        {"empty folders add nothing", {{"/r", {{"e1", true}, {"e2", true}}}, {"/r/e1", {}}, {"/r/e2", {}}}, "/r", {}},
        {"root folder has no doubled slash", {{"/", {{"f", false}}}}, "/", {"/f"}},
    };
    for (const Row &r : rows) {
        QStringList found;
        SearchFolder(r.start, found, fakeTree(r.tree));
        EXPECT_EQ(found, r.expected) << r.name;
    }
}

TEST(FolderSearch, EverySubfolderAndNoCallStackDepth)
{
    // 250 subfolders, each with one file: all are searched, in listing order.
    std::map<QString, std::vector<FolderEntry>> wide{{"/w", {}}};
    for (int i = 0; i < 250; ++i) {
        const QString sub = QStringLiteral("s%1").arg(i);
        wide["/w"].push_back({sub, true});
        wide["/w/" + sub] = {{"f", false}};
    }
    QStringList found;
    SearchFolder(QStringLiteral("/w"), found, fakeTree(wide));
    ASSERT_EQ(found.size(), 250);
    EXPECT_EQ(found.last(), QStringLiteral("/w/s249/f"));

    // 20,000 folders deep: the walk keeps its own stack of pending folders.
    const int depth = 20000;
    int level = 0;
    FolderLister deep = [&level](const QString &) -> std::optional<std::vector<FolderEntry>> {
        if (++level >= depth)
            return std::vector<FolderEntry>{{"bottom.flv", false}};
        return std::vector<FolderEntry>{{"d", true}};
    };
    found.clear();
    SearchFolder(QStringLiteral("/d"), found, deep);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].size(), 2 * depth + 11);
    EXPECT_TRUE(found[0].endsWith(QStringLiteral("/d/bottom.flv")));
}

TEST(FolderSearch, YieldsOnATimeBudgetAndCanStop)
{
    std::map<QString, std::vector<FolderEntry>> tree{{"/t", {}}};
    for (int i = 0; i < 3000; ++i) {
        tree["/t"].push_back({QStringLiteral("s%1").arg(i), true});
        tree[QStringLiteral("/t/s%1").arg(i)] = {{"f", false}};
    }
    const FolderLister lister = fakeTree(tree);
    int calls = 0;
    QStringList found;
    SearchFolder(
        QStringLiteral("/t"), found, lister, [&] { return ++calls > 0; }, 1000000);
    EXPECT_EQ(calls, 0) << "no yield before the budget is used up";
    EXPECT_EQ(found.size(), 3000);
    found.clear();
    SearchFolder(
        QStringLiteral("/t"), found, lister, [&] { return false; }, 0);
    EXPECT_LT(found.size(), 3000) << "a false answer stops the search";
}

TEST(FolderSearch, RealTreeWithHiddenReadOnlyAndLinks)
{
    QTemporaryDir dir;
    const QString r = dir.path() + QStringLiteral("/tree");
    QDir().mkpath(r + QStringLiteral("/.hidden"));
    QDir().mkpath(r + QStringLiteral("/ro"));
    QDir().mkpath(r + QStringLiteral("/loop/inner"));
    touch(r + QStringLiteral("/clip.flv"));
    touch(r + QStringLiteral("/notes.txt"));
    touch(r + QStringLiteral("/.hidden/h.mp4"));
    touch(r + QStringLiteral("/ro/r.avi"));
    touch(r + QStringLiteral("/loop/inner/i.wmv"));
    QFile::setPermissions(r + QStringLiteral("/ro"), QFile::ReadOwner | QFile::ExeOwner);
    ASSERT_EQ(::symlink("..", QFile::encodeName(r + QStringLiteral("/loop/inner/up")).constData()), 0);
    ASSERT_EQ(::symlink("../clip.flv", QFile::encodeName(r + QStringLiteral("/loop/cliplink.flv")).constData()), 0);
    QStringList found;
    SearchFolder(r, found);
    const QSet<QString> got(found.begin(), found.end());
    EXPECT_EQ(found.size(), got.size()) << "nothing found twice";
    EXPECT_EQ(got, (QSet<QString>{r + "/clip.flv", r + "/notes.txt", r + "/.hidden/h.mp4", r + "/ro/r.avi",
                                  r + "/loop/inner/i.wmv", r + "/loop/cliplink.flv"}));
    // Files of the top folder come before everything below it.
    EXPECT_TRUE(found.indexOf(r + "/clip.flv") < 2 && found.indexOf(r + "/notes.txt") < 2);
    QFile::setPermissions(r + QStringLiteral("/ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(Feedback, PromptsInOrder)
{
    struct Row {
        const char *name, *email, *comment;
        FeedbackField missing;
        const char *prompt;
    };
    const Row rows[] = {
        {"", "", "", FeedbackField::Name, "Your Name?"},      {"Ann", "", "", FeedbackField::EMail, "Your Email?"},
        {"Ann", "x", "", FeedbackField::Comment, "Comment?"}, {" ", " ", " ", FeedbackField::None, ""},
        {"Ann", "x", "hi", FeedbackField::None, ""},
    };
    for (const Row &r : rows) {
        const FeedbackCheck c =
            checkFeedback(QString::fromUtf8(r.name), QString::fromUtf8(r.email), QString::fromUtf8(r.comment));
        EXPECT_EQ(c.missing, r.missing) << r.name << "/" << r.email;
        EXPECT_EQ(c.prompt, QString::fromUtf8(r.prompt));
    }
}

TEST(Feedback, UrlKeepsOrderAndEncodesFields)
{
    EXPECT_EQ(feedbackUrl(QStringLiteral("http://127.0.0.1:8080/"), QStringLiteral("Ann"), QStringLiteral("x"),
                          QStringLiteral("hi"))
                  .toEncoded(),
              QByteArray("http://127.0.0.1:8080/suggest/post.php?name=Ann&age=x&comment=hi"));
    const QString comment = QString::fromUtf8("a&b=c d #1 \xc3\xbc\xe4\xb8\xad");
    const QUrl url = feedbackUrl(QStringLiteral("http://h"), QStringLiteral("A B"), QStringLiteral("a+b@c"), comment);
    EXPECT_EQ(url.path(), QStringLiteral("/suggest/post.php"));
    const QUrlQuery q(url);
    const auto items = q.queryItems(QUrl::FullyDecoded);
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0], qMakePair(QStringLiteral("name"), QStringLiteral("A B")));
    EXPECT_EQ(items[1], qMakePair(QStringLiteral("age"), QStringLiteral("a+b@c")));
    EXPECT_EQ(items[2], qMakePair(QStringLiteral("comment"), comment));
}
