#include "app/dialogs/editstepsdlg.h"
#include "tests/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <functional>

namespace {

Edits With(const std::function<void(Edits &)> &set)
{
    Edits e;
    set(e);
    return e;
}

// Reset leaves no step, and what goes with a step left out (the trim's
// tolerance, the border's colour) is not kept.
TEST(EditStepsDlg, ResetAndStepsLeftOutLeaveNothing)
{
    CEditStepsDlg dlg(With([](Edits &e) {
                          e.flip = FLIP_VERTICAL, e.border = {7.5, true};
                      }),
                      true, QString());
    dlg.findChild<QPushButton *>("reset")->click();
    EXPECT_EQ(dlg.Values(), Edits{});
    dlg.SetValues(
        With([](Edits &e) { e.trimFuzz = 40, e.borderColor = RGB(1, 2, 3), e.borderInside = true; }));
    EXPECT_EQ(dlg.Values(), Edits{});
}

// The fields take only what the steps take: each box's range is its
// option's, and margins across or down stay under 100 %.
TEST(EditStepsDlg, TheFieldsHoldTheStepsBounds)
{
    CEditStepsDlg dlg(Edits{}, true, QString());
    const auto range = [&dlg](const char *name) {
        if (auto *d = dlg.findChild<QDoubleSpinBox *>(name))
            return std::pair{d->minimum(), d->maximum()};
        auto *s = dlg.findChild<QSpinBox *>(name);
        EXPECT_TRUE(s) << name;
        return s ? std::pair{double(s->minimum()), double(s->maximum())} : std::pair{0.0, 0.0};
    };
    const struct {
        const char *name;
        double least, most;
    } rows[] = {
        {"cropX", 0, 1 << 20},     {"cropWidth", 1, 1 << 20}, {"marginTop", 0, 1 << 20},
        {"trimFuzz", 0, 100},      {"brightness", -100, 100}, {"contrast", -100, 100},
        {"saturation", -100, 100}, {"gamma", 0.1, 10},        {"border", 0, 10000},
    };
    for (const auto &row : rows)
        EXPECT_EQ(range(row.name), std::pair(row.least, row.most)) << row.name;
    dlg.findChild<QComboBox *>("borderUnit")->setCurrentIndex(1);
    EXPECT_EQ(range("border"), std::pair(0.0, 50.0));

    for (const char *unit : {"marginTopUnit", "marginBottomUnit"})
        dlg.findChild<QComboBox *>(unit)->setCurrentIndex(1);
    auto *top = dlg.findChild<QDoubleSpinBox *>("marginTop");
    auto *bottom = dlg.findChild<QDoubleSpinBox *>("marginBottom");
    top->setValue(60);
    EXPECT_DOUBLE_EQ(bottom->maximum(), 39.99);
    bottom->setValue(80); // clamped
    EXPECT_DOUBLE_EQ(bottom->value(), 39.99);
    // Pixels on one side leave the other all but a step of 100 %.
    dlg.findChild<QComboBox *>("marginTopUnit")->setCurrentIndex(0);
    EXPECT_DOUBLE_EQ(bottom->maximum(), 99.99);
    // Decimals with a '.' in every language.
    auto *gamma = dlg.findChild<QDoubleSpinBox *>("gamma");
    gamma->setValue(1.5);
    EXPECT_EQ(gamma->text(), "1.50");
}

// Inside the size goes only with a border and a resize that sets a size.
TEST(EditStepsDlg, BorderInsideIsOfferedWithABorderUnderASizedResize)
{
    for (const bool holds : {false, true}) {
        CEditStepsDlg dlg(Edits{}, holds, QString());
        auto *inside = dlg.findChild<QCheckBox *>("borderInside");
        EXPECT_FALSE(inside->isEnabled());
        dlg.findChild<QDoubleSpinBox *>("border")->setValue(5);
        EXPECT_EQ(inside->isEnabled(), holds);
    }
}

// The sample is the picture decoded small, and the tone steps on a copy,
// redrawn as a value changes; without a picture both say so.
TEST(EditStepsDlg, TheSampleShowsTheToneBeforeAndAfter)
{
    testsupport::ScratchDir dir;
    const std::string photo = dir.Path("p.png");
    ASSERT_TRUE(testsupport::MakeTestImage(640, 320).Save(photo.c_str(), CXIMAGE_FORMAT_PNG));
    CEditStepsDlg dlg(Edits{}, false, QString::fromStdString(photo));
    const QImage before = dlg.SampleBefore().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(before.isNull());
    EXPECT_EQ(before.size(), QSize(CEditStepsDlg::kSampleSide, CEditStepsDlg::kSampleSide / 2));
    // A small picture fills the box too.
    const std::string small = dir.Path("small.png");
    ASSERT_TRUE(testsupport::MakeTestImage(20, 40).Save(small.c_str(), CXIMAGE_FORMAT_PNG));
    EXPECT_EQ(CEditStepsDlg(Edits{}, false, QString::fromStdString(small)).SampleBefore().size(),
              QSize(CEditStepsDlg::kSampleSide / 2, CEditStepsDlg::kSampleSide));
    EXPECT_EQ(dlg.SampleAfter().convertToFormat(QImage::Format_RGB32), before);
    dlg.findChild<QCheckBox *>("grayscale")->setChecked(true);
    const QImage after =
        dlg.findChild<QLabel *>("after")->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(after, dlg.SampleAfter().convertToFormat(QImage::Format_RGB32));
    bool grey = true, changed = false;
    for (int y = 0; y < after.height(); y += 7)
        for (int x = 0; x < after.width(); x += 7) {
            const QRgb a = after.pixel(x, y), b = before.pixel(x, y);
            grey = grey && qRed(a) == qGreen(a) && qGreen(a) == qBlue(a);
            changed = changed || a != b;
        }
    EXPECT_TRUE(grey && changed);

    for (const std::string &path : {std::string(), dir.Path("missing.png")}) {
        CEditStepsDlg none(Edits{}, false, QString::fromStdString(path));
        EXPECT_TRUE(none.SampleBefore().isNull());
        EXPECT_FALSE(none.findChild<QLabel *>("after")->text().isEmpty());
    }
}

} // namespace
