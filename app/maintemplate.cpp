#include "app/maintemplate.h"

#include "resources/ids_main.h"

#include <array>

namespace maintemplate {

namespace {

using namespace mainid;
using K = Kind;

// Upper part: tree on the left, the folder list above the selected list on
// the right, the splitter band between the lists holding their buttons.
// Lower part (196 pixels): the output group stretching with the width, then
// the rename, resize, rotate and watermark groups and the command buttons
// keeping their distance to the bottom-right corner; the outputs' dates
// below the output group, beside the command buttons.
const std::array kControls{
    Control{IDC_TREE_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "选择目录:"), QRect(6, 6, 72, 16)},
    Control{IDC_LOADING_LABEL, K::Label, nullptr, QRect(80, 6, 52, 16)},
    Control{IDC_LOADING_BAR, K::ProgressBar, nullptr, QRect(134, 9, 52, 10)},
    Control{IDC_FOLDER_TREE, K::Tree, nullptr, QRect(6, 24, 180, 440)},
    Control{IDC_FOLDER_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "文件夹中的图像:"),
            QRect(192, 6, 200, 16)},
    // The editing steps chosen, and the button that chooses them.
    Control{IDC_EDITS_LABEL, K::ElidingLabel, nullptr, QRect(560, 6, 304, 16)},
    Control{IDC_EDITS, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "编辑..."), QRect(868, 2, 80, 22)},
    Control{IDC_FOLDER_LIST, K::FolderList, nullptr, QRect(192, 24, 756, 252)},
    Control{IDC_COUNT_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "选定的图像: 0"),
            QRect(192, 289, 124, 16)},
    Control{IDC_PRESET_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "预设:"), QRect(320, 289, 34, 16)},
    Control{IDC_PRESET, K::ElidingCombo, nullptr, QRect(356, 281, 96, 24)},
    Control{IDC_PRESET_SAVE, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "保存..."), QRect(456, 280, 54, 26)},
    Control{IDC_ADD, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "添加"), QRect(516, 280, 80, 26)},
    Control{IDC_ADD_ALL, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "添加全部"), QRect(602, 280, 80, 26)},
    Control{IDC_REMOVE, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "移除"), QRect(687, 280, 80, 26)},
    Control{IDC_REMOVE_ALL, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "移除全部"), QRect(773, 280, 80, 26)},
    Control{IDC_VIEW, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "查看图像"), QRect(858, 280, 80, 26)},
    Control{IDC_SELECTED_LIST, K::SelectedList, nullptr, QRect(192, 312, 756, 152)},

    // Output.
    Control{IDC_OUTPUT_GROUP, K::GroupBox, QT_TRANSLATE_NOOP("CMainDlg", "输出"), QRect(6, 474, 370, 142)},
    Control{IDC_FORMAT_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "格式:"), QRect(16, 500, 40, 20)},
    Control{IDC_FORMAT, K::Combo, nullptr, QRect(60, 497, 230, 24)},
    Control{IDC_QUALITY_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "JPEG，TIFF 品质:"),
            QRect(16, 536, 96, 20)},
    Control{IDC_QUALITY, K::Edit, nullptr, QRect(112, 535, 36, 22)},
    Control{IDC_QUALITY_SPIN, K::Spin, nullptr, QRect(148, 535, 16, 22)},
    Control{IDC_IF_LARGER, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "若更大则保留原文件"),
            QRect(285, 536, 85, 20)},
    Control{IDC_DEST_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "目标:"), QRect(16, 573, 40, 20)},
    Control{IDC_DEST, K::Combo, nullptr, QRect(60, 570, 276, 24)},
    Control{IDC_BROWSE, K::Button, "...", QRect(340, 570, 26, 24)},
    Control{IDC_FORMAT_SETTINGS, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "设置..."), QRect(294, 497, 72, 24)},

    // Rename.
    Control{IDC_RENAME_GROUP, K::GroupBox, nullptr, QRect(382, 480, 140, 136)},
    Control{IDC_RENAME, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "重命名"), QRect(390, 472, 72, 18)},
    Control{IDC_PREFIX_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "前缀:"), QRect(390, 502, 60, 20)},
    Control{IDC_PREFIX, K::Edit, nullptr, QRect(450, 500, 64, 22)},
    Control{IDC_SUFFIX_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "后缀:"), QRect(390, 534, 60, 20)},
    Control{IDC_SUFFIX, K::Edit, nullptr, QRect(450, 532, 64, 22)},
    Control{IDC_START_NUMBER_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "起始序号:"),
            QRect(390, 566, 60, 20)},
    Control{IDC_START_NUMBER, K::Edit, nullptr, QRect(450, 564, 64, 22)},
    Control{IDC_NAME_TEMPLATE, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "模板..."), QRect(390, 590, 124, 22)},

    // Resize.
    Control{IDC_RESIZE_GROUP, K::GroupBox, nullptr, QRect(528, 480, 168, 136)},
    Control{IDC_RESIZE, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "调整大小"), QRect(536, 472, 84, 18)},
    Control{IDC_RESIZE_TYPE_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "类型:"), QRect(536, 500, 36, 20)},
    Control{IDC_RESIZE_TYPE, K::Combo, nullptr, QRect(574, 497, 114, 24)},
    Control{IDC_WIDTH_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "宽:"), QRect(536, 531, 22, 20)},
    Control{IDC_WIDTH, K::Edit, nullptr, QRect(558, 530, 52, 22)},
    Control{IDC_HEIGHT_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "高:"), QRect(614, 531, 22, 20)},
    Control{IDC_HEIGHT, K::Edit, nullptr, QRect(636, 530, 52, 22)},
    Control{IDC_SHARPEN, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "锐化"), QRect(536, 562, 92, 20)},
    Control{IDC_DONT_ENLARGE, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "禁止放大"), QRect(536, 588, 150, 20)},
    Control{IDC_RESIZE_MORE, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "更多..."), QRect(630, 560, 58, 24)},

    // Rotate.
    Control{IDC_ROTATE_GROUP, K::GroupBox, nullptr, QRect(702, 480, 96, 136)},
    Control{IDC_ROTATE, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "旋转图像"), QRect(710, 472, 84, 18)},
    Control{IDC_ROTATE_LEFT, K::Radio, "-90", QRect(714, 502, 52, 20)},
    Control{IDC_PIC_LEFT, K::Picture, nullptr, QRect(768, 502, 20, 20)},
    Control{IDC_ROTATE_RIGHT, K::Radio, "90", QRect(714, 534, 52, 20)},
    Control{IDC_PIC_RIGHT, K::Picture, nullptr, QRect(768, 534, 20, 20)},
    Control{IDC_ROTATE_180, K::Radio, "180", QRect(714, 566, 52, 20)},
    Control{IDC_PIC_180, K::Picture, nullptr, QRect(768, 566, 20, 20)},
    Control{IDC_LOSSLESS, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "无损旋转"), QRect(710, 592, 86, 20)},

    // Watermark.
    Control{IDC_STAMP_GROUP, K::GroupBox, nullptr, QRect(804, 480, 150, 136)},
    Control{IDC_STAMP, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "水印"), QRect(812, 472, 60, 18)},
    Control{IDC_STAMP_TEXT_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "文本:"), QRect(812, 502, 36, 20)},
    Control{IDC_STAMP_TEXT, K::Edit, nullptr, QRect(848, 500, 98, 22)},
    Control{IDC_FONT, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "字体"), QRect(848, 534, 72, 26)},
    Control{IDC_STAMP_MORE, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "更多..."), QRect(848, 568, 72, 26)},

    // The outputs' dates, below the output group.
    Control{IDC_KEEP_DATES, K::CheckBox, QT_TRANSLATE_NOOP("CMainDlg", "保留日期"), QRect(8, 630, 90, 20)},
    Control{IDC_DATE_SOURCE, K::Combo, nullptr, QRect(100, 627, 140, 24)},
    Control{IDC_METADATA_LABEL, K::Label, QT_TRANSLATE_NOOP("CMainDlg", "元数据:"), QRect(250, 630, 60, 20)},
    Control{IDC_METADATA, K::Combo, nullptr, QRect(310, 627, 102, 24)},
    Control{IDC_METADATA_TAGS, K::Button, "...", QRect(390, 627, 22, 24)},

    // Commands.
    Control{IDOK, K::DefaultButton, QT_TRANSLATE_NOOP("CMainDlg", "开始(&S)"), QRect(510, 626, 84, 26)},
    Control{IDC_PREVIEW, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "预览(&P)"), QRect(600, 626, 84, 26)},
    Control{IDC_VIEW_RESULTS, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "查看结果(&V)"),
            QRect(690, 626, 84, 26)},
    Control{IDC_ABOUT, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "关于(&A)"), QRect(780, 626, 84, 26)},
    Control{IDCANCEL, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "退出(&Q)"), QRect(870, 626, 84, 26)},
    Control{IDC_UNDO_RUN, K::Button, QT_TRANSLATE_NOOP("CMainDlg", "撤销上次运行"), QRect(420, 626, 84, 26)},
};

}  // namespace

std::span<const Control> Controls()
{
    return kControls;
}

const Control *Find(int id)
{
    for (const Control &c : kControls)
        if (c.id == id)
            return &c;
    return nullptr;
}

}  // namespace maintemplate
