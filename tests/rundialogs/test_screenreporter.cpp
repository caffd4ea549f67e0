#include "rundialogs/screenreporter.h"

#include <QCoreApplication>
#include <QObject>
#include <gtest/gtest.h>

#include <utility>

// Reports reach the window a batch per pause, so a flood of small files
// redraws the screen a few times a second rather than once per file; a
// report after a quiet pause goes out at once.
TEST(ScreenReporter, ABatchPerPauseAndAtOnceAfterAQuietOne)
{
    using Batches = std::vector<std::vector<std::string>>;
    QObject receiver;
    Batches batches;
    std::function<void()> resume;
    const auto reporter = CScreenReporter::Create(
        &receiver,
        [&](std::vector<RunReport> &&batch) {
            batches.emplace_back();
            for (const RunReport &r : batch)
                batches.back().push_back(r.text);
        },
        [&](QObject *on, std::function<void()> then) {
            EXPECT_EQ(on, &receiver);
            resume = std::move(then);
        });
    const auto deliverPosted = [] { QCoreApplication::sendPostedEvents(); };
    reporter->FileStarted("a");
    deliverPosted();
    reporter->FileStarted("b");
    reporter->FileStarted("c");
    deliverPosted();
    EXPECT_EQ(batches, (Batches{{"a"}}));
    ASSERT_TRUE(resume);
    std::exchange(resume, {})();
    EXPECT_EQ(batches, (Batches{{"a"}, {"b", "c"}}));
    ASSERT_TRUE(resume);
    std::exchange(resume, {})(); // nothing came meanwhile
    EXPECT_FALSE(resume);
    reporter->FileStarted("d");
    deliverPosted();
    EXPECT_EQ(batches, (Batches{{"a"}, {"b", "c"}, {"d"}}));
    // Once the window stops listening, nothing reaches it.
    reporter->StopListening();
    reporter->FileStarted("e");
    std::exchange(resume, {})();
    deliverPosted();
    EXPECT_EQ(batches.size(), 3u);
    EXPECT_FALSE(resume);
}
