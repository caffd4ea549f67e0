#include "viewer/previewmenu.h"

#include "resources/ids_viewer.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include <vector>

namespace {

using namespace viewerid;

// Open modes, as CPreviewDlg numbers them.
constexpr int kModeSelected = 0;
constexpr int kModeFolder = 1;
constexpr int kModeResults = 2;

struct MenuItem {
    int id;
    const char *text;
};

const MenuItem kMenuItems[] = {
    {ID_NEXT_IMAGE, QT_TRANSLATE_NOOP("CPreviewDlg", "下一张图片")},
    {ID_PREV_IMAGE, QT_TRANSLATE_NOOP("CPreviewDlg", "上一张图片")},
    {ID_REMOVE_FROM_LIST, QT_TRANSLATE_NOOP("CPreviewDlg", "从列表中删除")},
    {ID_ADD_TO_LIST, QT_TRANSLATE_NOOP("CPreviewDlg", "添加到列表中")},
    {ID_ZOOM_IN, QT_TRANSLATE_NOOP("CPreviewDlg", "放大")},
    {ID_ZOOM_OUT, QT_TRANSLATE_NOOP("CPreviewDlg", "缩小")},
    {ID_ACTUAL_SIZE, QT_TRANSLATE_NOOP("CPreviewDlg", "实际大小")},
    {ID_FIT, QT_TRANSLATE_NOOP("CPreviewDlg", "适合图像")},
    {ID_SLIDESHOW, QT_TRANSLATE_NOOP("CPreviewDlg", "幻灯片")},
    {ID_SLIDE_DELAY, QT_TRANSLATE_NOOP("CPreviewDlg", "幻灯片延时")},
    {ID_COPY_TO, QT_TRANSLATE_NOOP("CPreviewDlg", "复制到...")},
    {ID_MOVE_TO, QT_TRANSLATE_NOOP("CPreviewDlg", "移动到...")},
    {ID_DELETE, QT_TRANSLATE_NOOP("CPreviewDlg", "删除")},
    {ID_BACK_COLOUR, QT_TRANSLATE_NOOP("CPreviewDlg", "背景颜色...")},
    {ID_EXIT, QT_TRANSLATE_NOOP("CPreviewDlg", "退出")},
    {ID_ACTUAL_OUTPUT, QT_TRANSLATE_NOOP("CPreviewDlg", "显示实际输出")},
};

const char *MenuText(int id)
{
    for (const MenuItem &item : kMenuItems)
        if (item.id == id)
            return item.text;
    return "";
}

// The three popups, in order; 0 marks a separator.
const std::vector<int> &PopupItems(int mode)
{
    // clang-format off
    static const std::vector<int> selected = {
        ID_NEXT_IMAGE, ID_PREV_IMAGE, 0, ID_REMOVE_FROM_LIST, 0, ID_ZOOM_IN, ID_ZOOM_OUT, 0,
        ID_ACTUAL_SIZE, ID_FIT, 0, ID_SLIDESHOW, ID_SLIDE_DELAY, 0, ID_ACTUAL_OUTPUT, 0, ID_EXIT};
    static const std::vector<int> folder = {
        ID_NEXT_IMAGE, ID_PREV_IMAGE, 0, ID_ADD_TO_LIST, 0, ID_ZOOM_IN, ID_ZOOM_OUT, 0,
        ID_ACTUAL_SIZE, ID_FIT, 0, ID_SLIDESHOW, ID_SLIDE_DELAY, 0,
        ID_COPY_TO, ID_MOVE_TO, ID_DELETE, 0, ID_BACK_COLOUR, 0, ID_EXIT};
    static const std::vector<int> results = {
        ID_NEXT_IMAGE, ID_PREV_IMAGE, 0, ID_ZOOM_IN, ID_ZOOM_OUT, 0,
        ID_ACTUAL_SIZE, ID_FIT, 0, ID_SLIDESHOW, ID_SLIDE_DELAY, 0,
        ID_COPY_TO, ID_MOVE_TO, ID_DELETE, 0, ID_BACK_COLOUR, 0, ID_EXIT};
    // clang-format on
    static const std::vector<int> none;
    switch (mode) {
    case kModeSelected:
        return selected;
    case kModeFolder:
        return folder;
    case kModeResults:
        return results;
    default:
        return none;
    }
}

} // namespace

QMenu *BuildPreviewMenu(QWidget *parent, const PreviewMenuState &s)
{
    const std::vector<int> &items = PopupItems(s.mode);
    if (items.empty())
        return nullptr;
    auto *menu = new QMenu("PREVIEW", parent);
    menu->setObjectName(QString::number(IDR_MENU_PREVIEW));
    // The output is shown at its own size, never zoomed.
    const bool fixedSize = s.pictureMode || s.outputMode;
    const bool fullSizeTick = fixedSize || (!s.zoomed && s.fullSize);
    const bool fitTick = !fixedSize && !s.zoomed && !s.fullSize;
    for (int id : items) {
        if (id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction *a = menu->addAction(QCoreApplication::translate("CPreviewDlg", MenuText(id)));
        a->setObjectName(QString::number(id));
        a->setData(id);
        bool enabled = true;
        bool checked = false;
        switch (id) {
        case ID_NEXT_IMAGE:
            enabled = !s.atLast;
            break;
        case ID_PREV_IMAGE:
            enabled = !s.atFirst;
            break;
        case ID_ZOOM_IN:
        case ID_ZOOM_OUT:
            enabled = !fixedSize;
            break;
        case ID_ACTUAL_SIZE:
            enabled = !fixedSize;
            checked = fullSizeTick;
            break;
        case ID_FIT:
            enabled = !fixedSize;
            checked = fitTick;
            break;
        case ID_ACTUAL_OUTPUT:
            enabled = s.hasFile || s.outputMode;
            checked = s.outputMode;
            break;
        case ID_SLIDESHOW:
            checked = s.slideShow;
            break;
        case ID_COPY_TO:
        case ID_MOVE_TO:
        case ID_DELETE:
            // A missing file cannot be copied or moved; the Delete key still
            // takes it off the list.
            enabled = s.hasFile && !(s.error && s.mode > kModeSelected);
            break;
        case ID_ADD_TO_LIST:
        case ID_REMOVE_FROM_LIST:
            enabled = s.hasFile;
            break;
        default:
            break;
        }
        a->setEnabled(enabled);
        // Only ticked items carry a mark, as in a plain menu.
        if (checked) {
            a->setCheckable(true);
            a->setChecked(true);
        }
    }
    return menu;
}
