#include "viewer/previewhost.h"
#include "viewer/viewermodel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class RecordingHost : public IPreviewHost {
public:
    void RemoveFolderPath(const QString &path) override { calls << "folder-" + path; }
    void AddFolderPathToSelection(const QString &path) override { calls << "add-" + path; }
    void RemoveSelectedPath(const QString &path) override { calls << "selected-" + path; }
    QStringList calls;
};

enum class Turn { Next, Prev, NextOrFirst, First, Last, Tick };

struct TurnCase {
    const char *name;
    int count;
    int start;
    Turn turn;
    bool moved;
    int index;
    int step;
};

QStringList Paths(int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << QString("/p/%1.png").arg(i);
    return paths;
}

bool Apply(CViewerModel &model, Turn turn)
{
    switch (turn) {
    case Turn::Next:
        return model.Next();
    case Turn::Prev:
        return model.Prev();
    case Turn::NextOrFirst:
        return model.NextOrFirst();
    case Turn::First:
        return model.First();
    case Turn::Last:
        return model.Last();
    case Turn::Tick:
        return model.Tick();
    }
    return false;
}

} // namespace

TEST(ViewerModel, PageTurnsStopOrWrapAtTheEnds)
{
    const TurnCase cases[] = {
        {"next in the middle", 3, 1, Turn::Next, true, 2, 1},
        {"next stops at the last", 3, 2, Turn::Next, false, 2, 1},
        {"next past the end stays", 3, 7, Turn::Next, false, 7, 1},
        {"prev in the middle", 3, 1, Turn::Prev, true, 0, -1},
        {"prev stops at the first", 3, 0, Turn::Prev, false, 0, 1},
        {"space from the last goes back", 3, 2, Turn::NextOrFirst, true, 0, -1},
        {"space on a single file shows it again", 1, 0, Turn::NextOrFirst, true, 0, 1},
        {"space in the middle", 3, 0, Turn::NextOrFirst, true, 1, 1},
        {"home", 3, 2, Turn::First, true, 0, -1},
        {"home at the first", 3, 0, Turn::First, false, 0, 1},
        {"home on an empty list", 0, 3, Turn::First, false, 3, 1},
        {"end", 3, 0, Turn::Last, true, 2, 1},
        {"end at the last", 3, 2, Turn::Last, false, 2, 1},
        {"end past the end goes back", 3, 5, Turn::Last, true, 2, -1},
        {"end on an empty list", 0, 0, Turn::Last, false, 0, 1},
        {"tick runs on from the last, forward", 3, 2, Turn::Tick, true, 0, 1},
        {"tick in the middle", 3, 1, Turn::Tick, true, 2, 1},
        {"tick on an empty list", 0, 0, Turn::Tick, false, -1, 1},
    };
    for (const TurnCase &c : cases) {
        CViewerModel model;
        model.SetPaths(Paths(c.count));
        model.SetIndex(c.start);
        EXPECT_EQ(Apply(model, c.turn), c.moved) << c.name;
        EXPECT_EQ(model.Index(), c.index) << c.name;
        EXPECT_EQ(model.Step(), c.step) << c.name;
    }
}

TEST(ViewerModel, RemovalKeepsTheCurrentEntryAndTellsTheHostOfTheMode)
{
    struct Case {
        const char *name;
        int mode;
        int start;
        QString removed;
        bool found;
        int index;
        QStringList calls;
    };
    const QString p0 = "/p/0.png", p1 = "/p/1.png", p2 = "/p/2.png";
    const Case cases[] = {
        {"before the current", CViewerModel::MODE_FOLDER, 2, p0, true, 1, {"folder-" + p0}},
        {"the current: the next follows", CViewerModel::MODE_FOLDER, 1, p1, true, 1, {"folder-" + p1}},
        {"the current last: the first follows",
         CViewerModel::MODE_SELECTED,
         2,
         p2,
         true,
         0,
         {"selected-" + p2}},
        {"after the current", CViewerModel::MODE_SELECTED, 0, p2, true, 0, {"selected-" + p2}},
        {"results: no host list", CViewerModel::MODE_RESULTS, 1, p1, true, 1, {}},
        {"not listed", CViewerModel::MODE_FOLDER, 1, "/p/9.png", false, 1, {}},
    };
    for (const Case &c : cases) {
        RecordingHost host;
        CViewerModel model;
        model.SetPaths({p0, p1, p2});
        model.SetMode(c.mode);
        model.SetHost(&host);
        model.SetIndex(c.start);
        const QString current = model.Current();
        EXPECT_EQ(model.Remove(c.removed), c.found) << c.name;
        EXPECT_EQ(model.Index(), c.index) << c.name;
        EXPECT_EQ(model.Count(), c.found ? 2 : 3) << c.name;
        EXPECT_FALSE(model.Paths().contains(c.removed)) << c.name;
        if (c.removed != current) {
            EXPECT_EQ(model.Current(), current) << c.name;
        }
        EXPECT_EQ(host.calls, c.calls) << c.name;
    }
}

TEST(ViewerModel, RemovalOfADuplicateTakesTheCurrentOne)
{
    const QString a = "/p/a.png", b = "/p/b.png";
    CViewerModel model;
    model.SetPaths({a, b, a, b});
    model.SetIndex(3);
    ASSERT_TRUE(model.Remove(b));
    EXPECT_EQ(model.Paths(), (QStringList{a, b, a}));
    EXPECT_EQ(model.Index(), 0); // the last went: the first follows
    ASSERT_TRUE(model.Remove(a));
    EXPECT_EQ(model.Paths(), (QStringList{b, a}));
    ASSERT_TRUE(model.Remove(b));
    ASSERT_TRUE(model.Remove(a));
    EXPECT_TRUE(model.IsEmpty());
    EXPECT_FALSE(model.HasCurrent());
}

TEST(ViewerModel, AddingToTheSelectionIsForTheFolderModeOnly)
{
    for (const int mode :
         {CViewerModel::MODE_FOLDER, CViewerModel::MODE_SELECTED, CViewerModel::MODE_RESULTS}) {
        RecordingHost host;
        CViewerModel model;
        model.SetPaths(Paths(2));
        model.SetMode(mode);
        model.SetHost(&host);
        model.SetIndex(1);
        model.AddCurrentToSelection();
        model.SetIndex(5); // nothing current
        model.AddCurrentToSelection();
        EXPECT_EQ(host.calls, mode == CViewerModel::MODE_FOLDER ? QStringList{"add-/p/1.png"} : QStringList())
            << mode;
    }
}
