// The pieces both front ends share: numbered output names and the batch's book of them.
#include "batch/batchtestutil.h"
#include "shared/outputnames.h"

#include <gtest/gtest.h>

using batch::numberedPath;
using batch::OutputNames;

TEST(OutputNaming, NumberBeforeTheLastDotOfTheFileName)
{
    struct Row {
        const char *path;
        int n;
        const char *numbered;
    };
    const Row rows[] = {
        {"/o/clip.wma", 2, "/o/clip (2).wma"}, {"/o/clip.part1.wma", 3, "/o/clip.part1 (3).wma"},
        {"/o.d/clip", 2, "/o.d/clip (2)"},     {"/o/新clip.mp4", 2, "/o/新clip (2).mp4"},
        {"clip.wma", 10, "clip (10).wma"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(numberedPath(QString::fromUtf8(r.path), r.n), QString::fromUtf8(r.numbered)) << r.path;
}

TEST(OutputNaming, TheBookGivesNamesInOrderAndBackOnlyWhenAsked)
{
    struct Step {
        enum Kind { Take, Release, ReleaseIfLast } kind;
        const char *path;
        const char *expected; // the name given, or "yes"/"no" for a release
    };
    const Step steps[] = {
        {Step::Take, "/o/clip.wma", "/o/clip.wma"},
        {Step::Take, "/o/clip.wma", "/o/clip (2).wma"},
        {Step::Take, "/o//clip.wma", "/o//clip (3).wma"}, // the same file, however it is written
        {Step::ReleaseIfLast, "/o/clip.wma", "no"},       // names were given after it
        {Step::Take, "/o/clip.wma", "/o/clip (4).wma"},
        {Step::ReleaseIfLast, "/o/clip (4).wma", "yes"}, // nothing after it: free again
        {Step::Take, "/o/clip.wma", "/o/clip (4).wma"},
        {Step::Release, "/o/clip (2).wma", "yes"},
        {Step::Take, "/o/clip.wma", "/o/clip (2).wma"},
        {Step::Take, "/p/clip.wma", "/p/clip.wma"},
        {Step::Take, "/o/clip (2).wma", "/o/clip (2) (2).wma"},
    };
    OutputNames names;
    for (const Step &s : steps) {
        const QString path = QString::fromLatin1(s.path);
        switch (s.kind) {
        case Step::Take:
            EXPECT_EQ(names.take(path), QString::fromLatin1(s.expected)) << s.path;
            EXPECT_TRUE(names.isTaken(QString::fromLatin1(s.expected)));
            break;
        case Step::Release:
            names.release(path);
            EXPECT_FALSE(names.isTaken(path));
            break;
        case Step::ReleaseIfLast:
            EXPECT_EQ(names.releaseIfLast(path), qstrcmp(s.expected, "yes") == 0) << s.path;
            EXPECT_EQ(names.isTaken(path), qstrcmp(s.expected, "no") == 0) << s.path;
            break;
        }
    }
    names.clear();
    EXPECT_EQ(names.take(QStringLiteral("/o/clip.wma")), QStringLiteral("/o/clip.wma"));
}
