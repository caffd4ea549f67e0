#include "app/dialogs/resizeoptionsdlg.h"
#include "convert/convertjob.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QStandardItemModel>
#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// The fields each rule enables, the crop box off and on, as the rule changes
// under an open dialog.
TEST(ResizeOptionsDlg, EachRuleEnablesTheFieldsItUses)
{
    CResizeOptionsDlg dlg(ResizeChoices{}, 0);
    auto *crop = dlg.findChild<QCheckBox *>("cropRatio");
    auto *form = dlg.findChild<QFormLayout *>();
    ASSERT_TRUE(crop && form);
    const std::pair<const char *, char> fields[] = {
        {"edge", 'e'},       {"percent", 'p'},     {"gravity", 'g'},  {"background", 'b'},
        {"ratioWidth", 'w'}, {"ratioHeight", 'h'}, {"cropRatio", 'c'}};
    const struct {
        int rule;
        bool crop;
        const char *enabled; // a letter per field above: e p g b w h c
    } rows[] = {
        {0, false, "c"}, // fit inside
        {1, false, "c"}, // width
        {2, false, "c"}, // height
        {3, false, "c"}, // exact size
        {RESIZE_LONG_EDGE, false, "ec"},
        {RESIZE_SHORT_EDGE, false, "ec"},
        {RESIZE_PERCENT, false, "pc"},
        {RESIZE_FILL, false, "gc"},
        {RESIZE_PAD, false, "gbc"},
        {0, true, "gwhc"}, // the crop keeps its part by the gravity
        {RESIZE_PERCENT, true, "pgwhc"},
        {RESIZE_PAD, true, "gbwhc"},
        {RESIZE_LONG_EDGE, false, "ec"}, // and off again
    };
    for (const auto &row : rows) {
        dlg.SetRule(row.rule);
        crop->setChecked(row.crop);
        std::string enabled;
        for (const auto &[name, letter] : fields) {
            QWidget *field = dlg.findChild<QWidget *>(name);
            ASSERT_TRUE(field) << name;
            if (field->isEnabled())
                enabled += letter;
            // A row's label goes with its field.
            if (QWidget *label = form->labelForField(field)) {
                EXPECT_EQ(label->isEnabled(), field->isEnabled()) << name;
            }
        }
        EXPECT_EQ(enabled, row.enabled) << "rule " << row.rule << (row.crop ? " with the crop" : "");
    }
}

// The gravities that look at the pixels follow the anchors; pad does not
// offer them, and one chosen becomes the centre there.
TEST(ResizeOptionsDlg, ContentGravitiesAreForCropsOnly)
{
    ResizeChoices choices;
    choices.gravity = GRAVITY_ENTROPY;
    CResizeOptionsDlg dlg(choices, RESIZE_FILL);
    auto *gravity = dlg.findChild<QComboBox *>("gravity");
    ASSERT_TRUE(gravity);
    EXPECT_EQ(gravity->count(), 11);
    EXPECT_EQ(dlg.Choices().gravity, GRAVITY_ENTROPY);
    dlg.SetRule(RESIZE_PAD);
    EXPECT_EQ(dlg.Choices().gravity, GRAVITY_CENTER);
    const auto *model = qobject_cast<QStandardItemModel *>(gravity->model());
    ASSERT_TRUE(model);
    EXPECT_FALSE(model->item(GRAVITY_ATTENTION)->isEnabled());
    dlg.SetRule(RESIZE_FILL);
    EXPECT_TRUE(model->item(GRAVITY_ATTENTION)->isEnabled());
    choices.gravity = 11; // out of range
    EXPECT_EQ(CResizeOptionsDlg(choices, RESIZE_FILL).Choices().gravity, GRAVITY_CENTER);
}

} // namespace
