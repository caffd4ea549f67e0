<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>关于 Velmora</source>
        <translation>About Velmora</translation>
    </message>
    <message>
        <source>主页: </source>
        <translation>Home page: </translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>System language</translation>
    </message>
    <message>
        <source>重新启动后生效。</source>
        <translation>Takes effect after a restart.</translation>
    </message>
    <message>
        <source>语言:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>安装 Nautilus 脚本</source>
        <translation>Install Nautilus scripts</translation>
    </message>
    <message>
        <source>已写入:
%1

在 Nautilus 中右键单击文件，它们在“脚本”子菜单里。</source>
        <translation>Written:
%1

In Nautilus, right-click files: they are in the Scripts submenu.</translation>
    </message>
    <message>
        <source>无法写入 Nautilus 脚本:
%1</source>
        <translation>Cannot write the Nautilus scripts:
%1</translation>
    </message>
</context>
<context>
    <name>CBackColourDlg</name>
    <message>
        <source>背景颜色:</source>
        <translation>Background colour:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>CColourPicker</name>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>更多颜色...</source>
        <translation>More Colours...</translation>
    </message>
</context>
<context>
    <name>CEditStepsDlg</name>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>水平</source>
        <translation>Horizontal</translation>
    </message>
    <message>
        <source>垂直</source>
        <translation>Vertical</translation>
    </message>
    <message>
        <source>水平和垂直</source>
        <translation>Horizontal and vertical</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>修剪与翻转</source>
        <translation>Trim and flip</translation>
    </message>
    <message>
        <source>修剪边框</source>
        <translation>Trim borders</translation>
    </message>
    <message>
        <source>裁去与四角颜色相同(或透明)的均匀边框</source>
        <translation>Cuts off uniform borders of the corners&apos; colour (or transparent ones)</translation>
    </message>
    <message>
        <source>容差:</source>
        <translation>Tolerance:</translation>
    </message>
    <message>
        <source>翻转:</source>
        <translation>Flip:</translation>
    </message>
    <message>
        <source>全部重置</source>
        <translation>Reset All</translation>
    </message>
    <message>
        <source>像素</source>
        <translation>px</translation>
    </message>
    <message>
        <source>裁剪</source>
        <translation>Crop</translation>
    </message>
    <message>
        <source>区域(像素):</source>
        <translation>Region (pixels):</translation>
    </message>
    <message>
        <source>边距:</source>
        <translation>Margins:</translation>
    </message>
    <message>
        <source>宽:</source>
        <translation>W:</translation>
    </message>
    <message>
        <source>高:</source>
        <translation>H:</translation>
    </message>
    <message>
        <source>上:</source>
        <translation>Top:</translation>
    </message>
    <message>
        <source>右:</source>
        <translation>Right:</translation>
    </message>
    <message>
        <source>下:</source>
        <translation>Bottom:</translation>
    </message>
    <message>
        <source>左:</source>
        <translation>Left:</translation>
    </message>
    <message>
        <source>色调与颜色</source>
        <translation>Tone and colour</translation>
    </message>
    <message>
        <source>自动色阶</source>
        <translation>Auto levels</translation>
    </message>
    <message>
        <source>亮度:</source>
        <translation>Brightness:</translation>
    </message>
    <message>
        <source>对比度:</source>
        <translation>Contrast:</translation>
    </message>
    <message>
        <source>饱和度:</source>
        <translation>Saturation:</translation>
    </message>
    <message>
        <source>大于 1 时中间调变亮</source>
        <translation>Above 1 lightens the middle tones</translation>
    </message>
    <message>
        <source>伽马:</source>
        <translation>Gamma:</translation>
    </message>
    <message>
        <source>灰度</source>
        <translation>Grayscale</translation>
    </message>
    <message>
        <source>棕褐色</source>
        <translation>Sepia</translation>
    </message>
    <message>
        <source>之前</source>
        <translation>Before</translation>
    </message>
    <message>
        <source>之后</source>
        <translation>After</translation>
    </message>
    <message>
        <source>边框</source>
        <translation>Border</translation>
    </message>
    <message>
        <source>像素,或较短边的百分比(最多 50%)</source>
        <translation>Pixels, or a percentage of the shorter side (at most 50%)</translation>
    </message>
    <message>
        <source>其他颜色...</source>
        <translation>Other Colour...</translation>
    </message>
    <message>
        <source>包含在尺寸内</source>
        <translation>Inside the size</translation>
    </message>
    <message>
        <source>缩小图像,使调整大小设定的尺寸包含边框(按百分比调整时不可用)</source>
        <translation>Shrinks the picture so that the size the resize sets includes the border (not with a percentage)</translation>
    </message>
    <message>
        <source>宽度:</source>
        <translation>Width:</translation>
    </message>
    <message>
        <source>颜色:</source>
        <translation>Colour:</translation>
    </message>
    <message>
        <source>未选择图像</source>
        <translation>No picture selected</translation>
    </message>
    <message>
        <source>翻转</source>
        <translation>Flip</translation>
    </message>
    <message>
        <source>编辑: %1</source>
        <translation>Edits: %1</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
</context>
<context>
    <name>CEncoderSettingsDlg</name>
    <message>
        <source>编码设置</source>
        <translation>Encoder Settings</translation>
    </message>
    <message>
        <source>色度抽样:</source>
        <translation>Chroma subsampling:</translation>
    </message>
    <message>
        <source>压缩级别:</source>
        <translation>Compression level:</translation>
    </message>
    <message>
        <source>压缩:</source>
        <translation>Compression:</translation>
    </message>
    <message>
        <source>压缩力度:</source>
        <translation>Effort:</translation>
    </message>
    <message>
        <source>速度:</source>
        <translation>Speed:</translation>
    </message>
    <message>
        <source>分辨率 (DPI):</source>
        <translation>Resolution (DPI):</translation>
    </message>
    <message>
        <source>渐进式</source>
        <translation>Progressive</translation>
    </message>
    <message>
        <source>按品质 (90 起 4:4:4)</source>
        <translation>By quality (4:4:4 from 90)</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>无损</source>
        <translation>Lossless</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>不写入</source>
        <translation>Not written</translation>
    </message>
    <message>
        <source>小写</source>
        <translation>Lower case</translation>
    </message>
    <message>
        <source>大写</source>
        <translation>Upper case</translation>
    </message>
    <message>
        <source>扩展名:</source>
        <translation>Extension:</translation>
    </message>
    <message>
        <source>文件大小上限</source>
        <translation>File size limit</translation>
    </message>
    <message>
        <source>仍放不下时缩小图片</source>
        <translation>Scale the picture down when it still does not fit</translation>
    </message>
    <message>
        <source>上限:</source>
        <translation>Limit:</translation>
    </message>
    <message>
        <source>最低质量:</source>
        <translation>Lowest quality:</translation>
    </message>
    <message>
        <source>请输入 1 KB 到 1 GiB 之间的大小。</source>
        <translation>Enter a size from 1 KB to 1 GiB.</translation>
    </message>
    <message>
        <source>默认</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>渲染分辨率 (SVG、PDF):</source>
        <translation>Render resolution (SVG, PDF):</translation>
    </message>
    <message>
        <source>合并为一个文档</source>
        <translation>Combine into one document</translation>
    </message>
    <message>
        <source>图片大小</source>
        <translation>Picture size</translation>
    </message>
    <message>
        <source>PDF 页面:</source>
        <translation>PDF page:</translation>
    </message>
    <message>
        <source>页边距 (mm):</source>
        <translation>Margin (mm):</translation>
    </message>
</context>
<context>
    <name>CFolderDialog</name>
    <message>
        <source>查找范围:</source>
        <translation>Look in:</translation>
    </message>
    <message>
        <source>文件夹:</source>
        <translation>Folder:</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>CImageLists</name>
    <message>
        <source>请先在上方点击你想要选择的图像，然后请点击“添加”按钮!</source>
        <translation>First click the images you want in the list above, then click “Add”.</translation>
    </message>
    <message>
        <source>请先在下方点击你想要移除的图像，然后请点击“移除”按钮!</source>
        <translation>First click the images you want to remove in the list below, then click “Remove”.</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>选定的图像: %1</source>
        <translation>Selected images: %1</translation>
    </message>
    <message>
        <source>名称,110;大小,60;类型,110;修改日期,150;属性,70;路径,200</source>
        <extracomment>The selected list&apos;s columns: title,width in pixels; one after another, split by &quot;;&quot;.</extracomment>
        <translation>Name,110;Size,80;Type,110;Date Modified,150;Attributes,70;Path,200</translation>
    </message>
    <message>
        <source>%1 图像</source>
        <translation>%1 image</translation>
    </message>
</context>
<context>
    <name>CMainDlg</name>
    <message>
        <source>请先选择文件!</source>
        <translation>Select some images first.</translation>
    </message>
    <message>
        <source>无法创建目标文件夹:
%1</source>
        <translation>Cannot create the destination folder:
%1</translation>
    </message>
    <message>
        <source>没有可以查看的结果图像!</source>
        <translation>There are no converted images to view yet.</translation>
    </message>
    <message>
        <source>选择目录:</source>
        <translation>Folders:</translation>
    </message>
    <message>
        <source>文件夹中的图像:</source>
        <translation>Images in the folder:</translation>
    </message>
    <message>
        <source>选定的图像: 0</source>
        <translation>Selected images: 0</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>添加全部</source>
        <translation>Add All</translation>
    </message>
    <message>
        <source>移除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>移除全部</source>
        <translation>Remove All</translation>
    </message>
    <message>
        <source>查看图像</source>
        <translation>View Images</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>格式:</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>JPEG，TIFF 品质:</source>
        <translation>JPEG, WebP, AVIF, JPEG XL quality:</translation>
    </message>
    <message>
        <source>目标:</source>
        <translation>Save in:</translation>
    </message>
    <message>
        <source>重命名</source>
        <translation>Rename</translation>
    </message>
    <message>
        <source>前缀:</source>
        <translation>Prefix:</translation>
    </message>
    <message>
        <source>后缀:</source>
        <translation>Suffix:</translation>
    </message>
    <message>
        <source>起始序号:</source>
        <translation>Start at:</translation>
    </message>
    <message>
        <source>调整大小</source>
        <translation>Resize</translation>
    </message>
    <message>
        <source>类型:</source>
        <translation>Rule:</translation>
    </message>
    <message>
        <source>宽:</source>
        <translation>W:</translation>
    </message>
    <message>
        <source>高:</source>
        <translation>H:</translation>
    </message>
    <message>
        <source>锐化</source>
        <translation>Sharpen</translation>
    </message>
    <message>
        <source>禁止放大</source>
        <translation>Never enlarge</translation>
    </message>
    <message>
        <source>旋转图像</source>
        <translation>Rotate</translation>
    </message>
    <message>
        <source>水印</source>
        <translation>Watermark</translation>
    </message>
    <message>
        <source>文本:</source>
        <translation>Text:</translation>
    </message>
    <message>
        <source>字体</source>
        <translation>Font...</translation>
    </message>
    <message>
        <source>开始(&amp;S)</source>
        <translation>&amp;Start</translation>
    </message>
    <message>
        <source>预览(&amp;P)</source>
        <translation>&amp;Preview</translation>
    </message>
    <message>
        <source>查看结果(&amp;V)</source>
        <translation>&amp;View Results</translation>
    </message>
    <message>
        <source>关于(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>退出(&amp;Q)</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>模板...</source>
        <translation>Template...</translation>
    </message>
    <message>
        <source>更多...</source>
        <translation>More...</translation>
    </message>
    <message>
        <source>保留日期</source>
        <translation>Keep dates</translation>
    </message>
    <message>
        <source>撤销上次运行</source>
        <translation>Undo Last Run</translation>
    </message>
    <message>
        <source>设置...</source>
        <translation>Settings...</translation>
    </message>
    <message>
        <source>元数据:</source>
        <translation>Metadata:</translation>
    </message>
    <message>
        <source>若更大则保留原文件</source>
        <translation>Not larger</translation>
    </message>
    <message>
        <source>无损旋转</source>
        <translation>Lossless</translation>
    </message>
    <message>
        <source>预设:</source>
        <translation>Preset:</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>编辑...</source>
        <translation>Edit...</translation>
    </message>
</context>
<context>
    <name>CMetadataTagsDlg</name>
    <message>
        <source>写入元数据</source>
        <translation>Write Metadata</translation>
    </message>
    <message>
        <source>作者:</source>
        <translation>Artist:</translation>
    </message>
    <message>
        <source>版权:</source>
        <translation>Copyright:</translation>
    </message>
    <message>
        <source>说明:</source>
        <translation>Caption:</translation>
    </message>
    <message>
        <source>关键字:</source>
        <translation>Keywords:</translation>
    </message>
    <message>
        <source>用逗号或分号分隔</source>
        <translation>Separated by commas or semicolons</translation>
    </message>
    <message>
        <source>空白则不写入</source>
        <translation>Not written when empty</translation>
    </message>
    <message>
        <source>{name}、{n}、{date} 和 {folder} 会换成每个文件的名称、序号、日期和文件夹</source>
        <translation>{name}, {n}, {date} and {folder} become each file&apos;s name, number, date and folder</translation>
    </message>
    <message>
        <source>不写入</source>
        <translation>Not written</translation>
    </message>
    <message>
        <source>评级:</source>
        <translation>Rating:</translation>
    </message>
    <message>
        <source>仅写入图像缺少的标签</source>
        <translation>Only the tags a picture lacks</translation>
    </message>
    <message>
        <source>拍摄日期前移或后移:d 天、h 小时、m 分钟、s 秒</source>
        <translation>Moves the shot&apos;s dates: d days, h hours, m minutes, s seconds</translation>
    </message>
    <message>
        <source>调整拍摄日期:</source>
        <translation>Shift dates:</translation>
    </message>
</context>
<context>
    <name>CNameTemplateDlg</name>
    <message>
        <source>文件名模板</source>
        <translation>File Name Template</translation>
    </message>
    <message>
        <source>按模板命名(代替前缀和后缀)</source>
        <translation>Name files from a template (instead of prefix and suffix)</translation>
    </message>
    <message>
        <source>模板:</source>
        <translation>Template:</translation>
    </message>
    <message>
        <source>示例:</source>
        <translation>Example:</translation>
    </message>
    <message>
        <source>(没有选定的图像)</source>
        <translation>(no image selected)</translation>
    </message>
    <message>
        <source>{name} 原文件名&#x3000;{folder} 所在文件夹的名称
{n} 序号, 补零到三位(001), 一千个文件起补到四位, 依此类推
{n:W} 补零到 W 位的序号, 如 {n:1} 不补零, {n:5} 五位
{date} 拍摄日期&#x3000;{date:%Y-%m-%d} 日期的写法
{w} {h} 输出的宽和高
模板中的 / 在目标文件夹下建立子文件夹。</source>
        <translation>{name} the original name&#x3000;{folder} the folder&apos;s name
{n} running number in three digits (001), four from 1000 files on, and so on
{n:W} running number in W digits: {n:1} not padded, {n:5} five digits
{date} date taken&#x3000;{date:%Y-%m-%d} how the date is written
{w} {h} the output&apos;s width and height
A / in the template makes folders below the destination.</translation>
    </message>
</context>
<context>
    <name>COptionPanel</name>
    <message>
        <source>选择目标文件夹</source>
        <translation>Choose the Destination Folder</translation>
    </message>
    <message>
        <source>请输入一个介于 %1 和 %2 之间的整数。</source>
        <translation>Please enter a whole number from %1 to %2.</translation>
    </message>
    <message>
        <source>请输入不超过 %1 个字符。</source>
        <translation>Please enter no more than %1 characters.</translation>
    </message>
    <message>
        <source>前缀和后缀不能包含 / 或控制字符。</source>
        <translation>The prefix and the suffix cannot contain / or control characters.</translation>
    </message>
    <message>
        <source>源文件的日期</source>
        <translation>File&apos;s date</translation>
    </message>
    <message>
        <source>拍摄日期</source>
        <translation>Date taken</translation>
    </message>
    <message>
        <source>文件名模板无效: %1</source>
        <translation>The file name template cannot be used: %1</translation>
    </message>
    <message>
        <source>无法读取水印图片 %1: %2</source>
        <translation>Cannot read the watermark picture %1: %2</translation>
    </message>
    <message>
        <source>保留全部</source>
        <translation>Keep all</translation>
    </message>
    <message>
        <source>去除位置</source>
        <translation>No location</translation>
    </message>
    <message>
        <source>全部去除</source>
        <translation>Remove all</translation>
    </message>
    <message>
        <source>{name}、{n}、{date} 和 {folder} 会换成每个文件的名称、序号、日期和文件夹</source>
        <translation>{name}, {n}, {date} and {folder} become each file&apos;s name, number, date and folder</translation>
    </message>
    <message>
        <source>请在“更多...”中输入尺寸列表,用逗号分隔,最多 16 个,每个为 Nw(宽度)、Nh(高度)、N(长边)或 WxH(限制在 W×H 内),数字从 1 起,不可重复。</source>
        <translation>Type the list of sizes under “More...”: up to 16, comma-separated, each Nw (width), Nh (height), N (long edge) or WxH (fit inside W×H), numbers from 1, none twice.</translation>
    </message>
    <message>
        <source>使用多个尺寸时,文件名模板必须包含 {size},否则各尺寸的输出会同名。</source>
        <translation>With several sizes the name template must hold {size}, or the sizes&apos; outputs would share a name.</translation>
    </message>
    <message>
        <source>写入作者、版权、说明、关键字和评级,调整拍摄日期</source>
        <translation>Write the artist, copyright, caption, keywords and rating; shift the shot&apos;s dates</translation>
    </message>
</context>
<context>
    <name>COverwriteDialog</name>
    <message>
        <source>自动重命名</source>
        <translation>Auto Rename</translation>
    </message>
    <message>
        <source>覆盖</source>
        <translation>Overwrite</translation>
    </message>
    <message>
        <source>跳过</source>
        <translation>Skip</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>为该任务保存该设置</source>
        <translation>Remember for this run</translation>
    </message>
</context>
<context>
    <name>CPresetChooserDlg</name>
    <message>
        <source>用预设转换</source>
        <translation>Convert with a Preset</translation>
    </message>
    <message>
        <source>用哪个预设转换所选的 %1 个文件?</source>
        <translation>Which preset converts the %1 files selected?</translation>
    </message>
</context>
<context>
    <name>CPresetDlg</name>
    <message>
        <source>保存预设</source>
        <translation>Save Preset</translation>
    </message>
    <message>
        <source>名称:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Move to Trash</translation>
    </message>
    <message>
        <source>预设名称不能为空，不能以点开头，也不能包含 / 或控制字符。</source>
        <translation>A preset name cannot be empty, start with a dot, or contain / or control characters.</translation>
    </message>
    <message>
        <source>预设“%1”已存在。要替换它吗?</source>
        <translation>The preset “%1” already exists. Replace it?</translation>
    </message>
    <message>
        <source>要删除预设“%1”吗?</source>
        <translation>Move the preset “%1” to the trash?</translation>
    </message>
</context>
<context>
    <name>CPresetRow</name>
    <message>
        <source>预设文件 %1 第 %2 行有误，未载入。</source>
        <translation>The preset file %1 has an error on line %2; it was not loaded.</translation>
    </message>
    <message>
        <source>无法读取预设文件 %1。</source>
        <translation>Cannot read the preset file %1.</translation>
    </message>
    <message>
        <source>无法保存预设 %1:
%2</source>
        <translation>Cannot save the preset %1:
%2</translation>
    </message>
</context>
<context>
    <name>CPreviewDlg</name>
    <message>
        <source>复制到</source>
        <translation>Copy To</translation>
    </message>
    <message>
        <source>移动到</source>
        <translation>Move To</translation>
    </message>
    <message>
        <source>确实要把“%1”放入回收站吗?</source>
        <translation>Move “%1” to the trash?</translation>
    </message>
    <message>
        <source>没有可以显示的图像。</source>
        <translation>There are no images to show.</translation>
    </message>
    <message>
        <source>下一张图片</source>
        <translation>Next Image</translation>
    </message>
    <message>
        <source>上一张图片</source>
        <translation>Previous Image</translation>
    </message>
    <message>
        <source>从列表中删除</source>
        <translation>Remove from List</translation>
    </message>
    <message>
        <source>添加到列表中</source>
        <translation>Add to List</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom In</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom Out</translation>
    </message>
    <message>
        <source>实际大小</source>
        <translation>Actual Size</translation>
    </message>
    <message>
        <source>适合图像</source>
        <translation>Fit to Window</translation>
    </message>
    <message>
        <source>幻灯片</source>
        <translation>Slideshow</translation>
    </message>
    <message>
        <source>幻灯片延时</source>
        <translation>Slideshow Delay...</translation>
    </message>
    <message>
        <source>复制到...</source>
        <translation>Copy To...</translation>
    </message>
    <message>
        <source>移动到...</source>
        <translation>Move To...</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Move to Trash</translation>
    </message>
    <message>
        <source>背景颜色...</source>
        <translation>Background Colour...</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>%1 文件 (*.%2) </source>
        <translation>%1 files (*.%2) </translation>
    </message>
    <message>
        <source>所有文件 (*.*) </source>
        <translation>All files (*.*) </translation>
    </message>
    <message>
        <source>无法将%1复制到%2。</source>
        <translation>Cannot copy %1 to %2.</translation>
    </message>
    <message>
        <source>无法将%1移动到%2。</source>
        <translation>Cannot move %1 to %2.</translation>
    </message>
    <message>
        <source>已将%1复制到%2,但无法删除原文件。</source>
        <translation>Copied %1 to %2, but cannot delete the original.</translation>
    </message>
    <message>
        <source>无法将%1移到回收站:找不到可用的回收站。</source>
        <translation>Cannot move %1 to the trash: no usable trash was found.</translation>
    </message>
    <message>
        <source>无法将%1移到回收站,它已被移到%2。</source>
        <translation>Cannot move %1 to the trash; it was moved to %2.</translation>
    </message>
    <message>
        <source>无法将%1移到回收站。</source>
        <translation>Cannot move %1 to the trash.</translation>
    </message>
    <message>
        <source>无法解码输出</source>
        <translation>Cannot decode the output</translation>
    </message>
    <message>
        <source>%1 字节</source>
        <translation>%1 bytes</translation>
    </message>
    <message>
        <source>%1 (%2 字节)</source>
        <translation>%1 (%2 bytes)</translation>
    </message>
    <message>
        <source>显示实际输出</source>
        <translation>Show Actual Output</translation>
    </message>
    <message>
        <source>正在生成实际输出…</source>
        <translation>Making the actual output…</translation>
    </message>
    <message>
        <source>无法生成输出: %1</source>
        <translation>Cannot make the output: %1</translation>
    </message>
    <message>
        <source>%1 × %2 像素</source>
        <translation>%1 × %2 pixels</translation>
    </message>
    <message>
        <source>原样复制: %1, %2</source>
        <translation>Copied as it is: %1, %2</translation>
    </message>
    <message>
        <source>实际输出 %1: %2, %3</source>
        <translation>Actual output %1: %2, %3</translation>
    </message>
    <message>
        <source>估计总大小: ~%1 (%2 个样本)</source>
        <translation>Estimated total: ~%1 (from %2 samples)</translation>
    </message>
    <message>
        <source>无法估计总大小</source>
        <translation>Cannot estimate the total</translation>
    </message>
    <message>
        <source>正在估计总大小…</source>
        <translation>Estimating the total…</translation>
    </message>
    <message>
        <source>Tab: 切换原图/输出   S: 分屏   O: 返回预览</source>
        <translation>Tab: source/output   S: split   O: back to the preview</translation>
    </message>
    <message>
        <source>原图</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>实际输出 %1: %2, %3, 质量 %4</source>
        <translation>Actual output %1: %2, %3, quality %4</translation>
    </message>
    <message>
        <source>第 %1/%2 页</source>
        <translation>page %1 of %2</translation>
    </message>
</context>
<context>
    <name>CProgressDialog</name>
    <message>
        <source>正在转换文件。请稍等</source>
        <translation>Converting files. Please wait</translation>
    </message>
    <message>
        <source>转换已完成。</source>
        <translation>Conversion finished.</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>详细信息 &gt;&gt;</source>
        <translation>Details &gt;&gt;</translation>
    </message>
    <message>
        <source>&lt;&lt; 详细信息</source>
        <translation>&lt;&lt; Details</translation>
    </message>
    <message>
        <source>查看结果</source>
        <translation>View Results</translation>
    </message>
    <message>
        <source>完成后关闭</source>
        <translation>Close when done</translation>
    </message>
    <message>
        <source>详细信息</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>撤销上次运行</source>
        <translation>Undo Last Run</translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>无法打开文件夹 %1:找不到文件管理器。</source>
        <translation>Cannot open the folder %1: no file manager was found.</translation>
    </message>
    <message>
        <source>元数据无法直接写入 AVIF/HEIC 文件:这些文件会重新编码</source>
        <translation>metadata cannot be written into AVIF/HEIC files as they are: they are encoded again</translation>
    </message>
</context>
<context>
    <name>CResizeOptionsDlg</name>
    <message>
        <source>左上</source>
        <translation>Top left</translation>
    </message>
    <message>
        <source>上</source>
        <translation>Top</translation>
    </message>
    <message>
        <source>右上</source>
        <translation>Top right</translation>
    </message>
    <message>
        <source>左</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>居中</source>
        <translation>Centre</translation>
    </message>
    <message>
        <source>右</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>左下</source>
        <translation>Bottom left</translation>
    </message>
    <message>
        <source>下</source>
        <translation>Bottom</translation>
    </message>
    <message>
        <source>右下</source>
        <translation>Bottom right</translation>
    </message>
    <message>
        <source>调整大小选项</source>
        <translation>Resize Options</translation>
    </message>
    <message>
        <source> 像素</source>
        <translation> px</translation>
    </message>
    <message>
        <source>其他颜色...</source>
        <translation>Other Colour...</translation>
    </message>
    <message>
        <source>先裁剪到比例:</source>
        <translation>First crop to the ratio:</translation>
    </message>
    <message>
        <source>长边或短边:</source>
        <translation>Long or short edge:</translation>
    </message>
    <message>
        <source>百分比:</source>
        <translation>Percent:</translation>
    </message>
    <message>
        <source>裁剪和补边的位置:</source>
        <translation>Crop and pad anchor:</translation>
    </message>
    <message>
        <source>补边颜色:</source>
        <translation>Padding colour:</translation>
    </message>
    <message>
        <source>主体（注意力）</source>
        <translation>Subject (attention)</translation>
    </message>
    <message>
        <source>细节最多（信息熵）</source>
        <translation>Most detail (entropy)</translation>
    </message>
    <message>
        <source>按画面保留边缘、色彩和肤色最多的部分（补边时不可用）</source>
        <translation>Keeps the part with the most edges, colour and skin tone (not with padding)</translation>
    </message>
    <message>
        <source>用逗号分隔,最多 16 个:Nw 宽度、Nh 高度、N 长边、WxH 限制在 W×H 内</source>
        <translation>Up to 16, comma-separated: Nw width, Nh height, N long edge, WxH fit inside W×H</translation>
    </message>
    <message>
        <source>多个尺寸:</source>
        <translation>Several sizes:</translation>
    </message>
    <message>
        <source>按画面保留信息量最多的部分（补边时不可用）</source>
        <translation>Keeps the part with the most information (not with padding)</translation>
    </message>
    <message>
        <source>随方向旋转比例</source>
        <translation>Turn with orientation</translation>
    </message>
    <message>
        <source>竖幅图像使用转过来的比例(4:3 成为 3:4)</source>
        <translation>A portrait picture takes the ratio turned (4:3 becomes 3:4)</translation>
    </message>
</context>
<context>
    <name>CShellTreeCtrl</name>
    <message>
        <source>主文件夹</source>
        <translation>Home</translation>
    </message>
    <message>
        <source>文件系统</source>
        <translation>File System</translation>
    </message>
    <message>
        <source>计算机</source>
        <translation>Computer</translation>
    </message>
</context>
<context>
    <name>CSlideDelayDlg</name>
    <message>
        <source>幻灯片延时(秒):</source>
        <translation>Slideshow delay (seconds):</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>请输入一个整数。</source>
        <translation>Please enter a whole number.</translation>
    </message>
    <message>
        <source>请输入一个介于 %1 和 %2 之间的整数。</source>
        <translation>Please enter a whole number from %1 to %2.</translation>
    </message>
</context>
<context>
    <name>CStampFontDlg</name>
    <message>
        <source>字体</source>
        <translation>Font</translation>
    </message>
    <message>
        <source> 像素</source>
        <translation> px</translation>
    </message>
    <message>
        <source>粗体</source>
        <translation>Bold</translation>
    </message>
    <message>
        <source>斜体</source>
        <translation>Italic</translation>
    </message>
    <message>
        <source>下划线</source>
        <translation>Underline</translation>
    </message>
    <message>
        <source>删除线</source>
        <translation>Strikeout</translation>
    </message>
    <message>
        <source>颜色...</source>
        <translation>Colour...</translation>
    </message>
    <message>
        <source>字体:</source>
        <translation>Font:</translation>
    </message>
    <message>
        <source>大小:</source>
        <translation>Size:</translation>
    </message>
    <message>
        <source>字形:</source>
        <translation>Style:</translation>
    </message>
    <message>
        <source>效果</source>
        <translation>Effects</translation>
    </message>
    <message>
        <source>颜色:</source>
        <translation>Colour:</translation>
    </message>
    <message>
        <source>示例</source>
        <translation>Sample</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>Colour</translation>
    </message>
</context>
<context>
    <name>CStampFontSample</name>
    <message>
        <source>AaBbYyZz 水印示例</source>
        <translation>AaBbYyZz Watermark Sample</translation>
    </message>
</context>
<context>
    <name>CStampOptionsDlg</name>
    <message>
        <source>水印选项</source>
        <translation>Watermark Options</translation>
    </message>
    <message>
        <source> 像素</source>
        <translation> px</translation>
    </message>
    <message>
        <source>文字高度占图像高度:</source>
        <translation>Text height as a share of the picture&apos;s:</translation>
    </message>
    <message>
        <source>文字阴影</source>
        <translation>Shadow under the text</translation>
    </message>
    <message>
        <source>(无)</source>
        <translation>(none)</translation>
    </message>
    <message>
        <source>浏览...</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source> % 图像宽度</source>
        <translation> % of the picture&apos;s width</translation>
    </message>
    <message>
        <source>位置:</source>
        <translation>Position:</translation>
    </message>
    <message>
        <source>边距:</source>
        <translation>Margin:</translation>
    </message>
    <message>
        <source>不透明度:</source>
        <translation>Opacity:</translation>
    </message>
    <message>
        <source>图片水印:</source>
        <translation>Logo picture:</translation>
    </message>
    <message>
        <source>图片大小:</source>
        <translation>Logo size:</translation>
    </message>
    <message>
        <source>选择水印图片</source>
        <translation>Choose the Logo Picture</translation>
    </message>
    <message>
        <source>图像 (*.png *.webp *.jpg *.jpeg *.gif *.bmp *.tif *.tiff *.avif *.jxl)</source>
        <translation>Images (*.png *.webp *.jpg *.jpeg *.gif *.bmp *.tif *.tiff *.avif *.jxl)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>(没有选定的图像)</source>
        <translation>(no image selected)</translation>
    </message>
</context>
<context>
    <name>ConvertJob</name>
    <message>
        <source>保持原始格式</source>
        <translation>Keep original format</translation>
    </message>
    <message>
        <source>固定图像</source>
        <translation>Fit inside</translation>
    </message>
    <message>
        <source>限制宽度</source>
        <translation>Set width</translation>
    </message>
    <message>
        <source>限制高度</source>
        <translation>Set height</translation>
    </message>
    <message>
        <source>忽略比例</source>
        <translation>Stretch</translation>
    </message>
    <message>
        <source>源目录</source>
        <translation>Source folder</translation>
    </message>
    <message>
        <source>限制长边</source>
        <translation>Long edge</translation>
    </message>
    <message>
        <source>限制短边</source>
        <translation>Short edge</translation>
    </message>
    <message>
        <source>按百分比</source>
        <translation>Percent</translation>
    </message>
    <message>
        <source>裁剪填满</source>
        <translation>Fill (crop)</translation>
    </message>
    <message>
        <source>补边适应</source>
        <translation>Pad (fit)</translation>
    </message>
    <message>
        <source>多个尺寸</source>
        <translation>Several sizes</translation>
    </message>
</context>
<context>
    <name>DialogButtons</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>FileRecord</name>
    <message>
        <source>not a regular file</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>cannot decode the image</source>
        <translation>cannot decode the image</translation>
    </message>
    <message>
        <source>cannot encode the image</source>
        <translation>cannot encode the image</translation>
    </message>
    <message>
        <source>cannot read the source</source>
        <translation>cannot read the source</translation>
    </message>
    <message>
        <source>the output is this file&apos;s source under another name</source>
        <translation>the output is this file&apos;s source under another name</translation>
    </message>
    <message>
        <source>the output is another source of this run</source>
        <translation>the output is another source of this run</translation>
    </message>
    <message>
        <source>cannot transform the image</source>
        <translation>cannot transform the image</translation>
    </message>
    <message>
        <source>the crop leaves nothing of the picture</source>
        <translation>the crop leaves nothing of the picture</translation>
    </message>
    <message>
        <source>not enough free space in the output folder</source>
        <translation>not enough free space in the output folder</translation>
    </message>
</context>
<context>
    <name>FolderListCtrl</name>
    <message>
        <source>添加选定图片到列表中(&amp;A)</source>
        <translation>&amp;Add to the Selected List</translation>
    </message>
    <message>
        <source>查看(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>%1 页</source>
        <translation>%1 pages</translation>
    </message>
</context>
<context>
    <name>NautilusScripts</name>
    <message>
        <source>用 Velmora 转换</source>
        <translation>Convert with Velmora</translation>
    </message>
    <message>
        <source>用 Velmora 预设转换…</source>
        <translation>Convert with a Velmora preset…</translation>
    </message>
    <message>
        <source>无法创建文件夹 %1</source>
        <translation>Cannot create the folder %1</translation>
    </message>
</context>
<context>
    <name>PresetRun</name>
    <message>
        <source>%1: 不是本机上的文件</source>
        <translation>%1: not a file on this computer</translation>
    </message>
    <message>
        <source>没有名为“%1”的预设。</source>
        <translation>There is no preset named “%1”.</translation>
    </message>
    <message>
        <source>无法用预设“%1”转换:
%2</source>
        <translation>Cannot convert with the preset “%1”:
%2</translation>
    </message>
    <message>
        <source>无法创建目标文件夹:
%1</source>
        <translation>Cannot create the destination folder:
%1</translation>
    </message>
    <message>
        <source>还没有保存的预设。在 Velmora 窗口中设好选项，再点“预设”旁的“保存...”。</source>
        <translation>No preset has been saved yet. In the Velmora window, set the options, then click “Save...” beside Preset.</translation>
    </message>
    <message>
        <source>--preset 需要一个预设名称</source>
        <translation>--preset needs the name of a preset</translation>
    </message>
    <message>
        <source>未知的选项 %1</source>
        <translation>unknown option %1</translation>
    </message>
    <message>
        <source>--run 与 --choose-preset 不能同时使用</source>
        <translation>--run and --choose-preset cannot be used together</translation>
    </message>
    <message>
        <source>--choose-preset 自己询问预设，不带 --preset</source>
        <translation>--choose-preset asks for the preset itself and takes no --preset</translation>
    </message>
    <message>
        <source>用法: velmora --run --preset 名称 文件...</source>
        <translation>Usage: velmora --run --preset NAME FILE...</translation>
    </message>
    <message>
        <source>没有给出要转换的文件</source>
        <translation>no files given to convert</translation>
    </message>
    <message>
        <source>%1: 没有这个文件或文件夹</source>
        <translation>%1: no such file or folder</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>TIFF 文档 (*.tif *.tiff)</source>
        <translation>TIFF documents (*.tif *.tiff)</translation>
    </message>
    <message>
        <source>PDF 文档 (*.pdf)</source>
        <translation>PDF documents (*.pdf)</translation>
    </message>
    <message>
        <source>合并</source>
        <translation>Combined</translation>
    </message>
    <message>
        <source>合并为一个文档</source>
        <translation>Combine into one document</translation>
    </message>
</context>
<context>
    <name>SelectedListCtrl</name>
    <message>
        <source>%1 字节</source>
        <translation>%1 bytes</translation>
    </message>
    <message>
        <source>从列表中移除(&amp;R)</source>
        <translation>&amp;Remove from List</translation>
    </message>
</context>
<context>
    <name>UndoRun</name>
    <message>
        <source>另有 %1 项。</source>
        <translation>And %1 more.</translation>
    </message>
    <message>
        <source>没有可以撤销的运行。</source>
        <translation>There is no run to undo.</translation>
    </message>
    <message>
        <source>撤销上次运行将删除它写出的文件, 并从回收站恢复被它替换的文件。
运行后被更改的文件会保留。要继续吗?</source>
        <translation>Undoing the last run removes the files it wrote and restores the files it replaced from the trash.
Files changed since the run are kept. Go on?</translation>
    </message>
    <message>
        <source>已撤销上次运行。</source>
        <translation>The last run was undone.</translation>
    </message>
    <message>
        <source>已撤销上次运行, 但有些文件未能复原:</source>
        <translation>The last run was undone, but some files could not be put back:</translation>
    </message>
    <message>
        <source>没有需要撤销的内容。</source>
        <translation>Nothing was left to undo.</translation>
    </message>
    <message>
        <source>无法撤销上次运行:</source>
        <translation>The last run cannot be undone:</translation>
    </message>
</context>
<context>
    <name>convertlog</name>
    <message>
        <source>文件 &quot;%1&quot; 已存在!%2%2请选择你想要的设置。</source>
        <translation>The file &quot;%1&quot; already exists.%2%2Choose what to do.</translation>
    </message>
    <message>
        <source>总计文件: %1; 已转换: %2; 已跳过: %3; 错误: %4。</source>
        <translation>Total files: %1; converted: %2; skipped: %3; errors: %4.</translation>
    </message>
    <message>
        <source>总计文件: %1; 已转换: %2; 错误: %3。</source>
        <translation>Total files: %1; converted: %2; errors: %3.</translation>
    </message>
    <message>
        <source>总计文件: %1; 将转换: %2; 将跳过: %3; 错误: %4。</source>
        <translation>Total files: %1; would convert: %2; would skip: %3; errors: %4.</translation>
    </message>
    <message>
        <source>总计文件: %1; 将转换: %2; 错误: %3。</source>
        <translation>Total files: %1; would convert: %2; errors: %3.</translation>
    </message>
    <message>
        <source>从: </source>
        <translation>From: </translation>
    </message>
    <message>
        <source>  错误: 文件不存在。</source>
        <translation>  Error: the file is missing.</translation>
    </message>
    <message>
        <source>  错误: 打开文件错误。</source>
        <translation>  Error: not readable as a picture.</translation>
    </message>
    <message>
        <source>  错误: 转换文件错误!</source>
        <translation>  Error: conversion failed.</translation>
    </message>
    <message>
        <source>  错误: 保存文件错误!</source>
        <translation>  Error: write failed.</translation>
    </message>
    <message>
        <source>  到: </source>
        <translation>  To: </translation>
    </message>
    <message>
        <source>  跳过: </source>
        <translation>  Skipped: </translation>
    </message>
    <message>
        <source>  将转换到: </source>
        <translation>  Would convert to: </translation>
    </message>
    <message>
        <source>  将复制到: </source>
        <translation>  Would copy to: </translation>
    </message>
    <message>
        <source>  将无损变换到: </source>
        <translation>  Would transform losslessly to: </translation>
    </message>
    <message>
        <source>  将跳过: </source>
        <translation>  Would skip: </translation>
    </message>
    <message>
        <source>  将覆盖: </source>
        <translation>  Would overwrite: </translation>
    </message>
    <message>
        <source>  将改名为: </source>
        <translation>  Would rename to: </translation>
    </message>
    <message>
        <source>  将询问是否覆盖: </source>
        <translation>  Would ask whether to overwrite: </translation>
    </message>
    <message>
        <source>（缩小到 %1×%2）</source>
        <translation> (shrunk to %1×%2)</translation>
    </message>
    <message>
        <source>（质量 %1）</source>
        <translation> (quality %1)</translation>
    </message>
    <message>
        <source>（质量 %1，缩小到 %2×%3）</source>
        <translation> (quality %1, shrunk to %2×%3)</translation>
    </message>
    <message>
        <source>文档: %1, %2 页。</source>
        <translation>Document: %1, %2 pages.</translation>
    </message>
    <message>
        <source>将写入文档: %1, %2 页。</source>
        <translation>Would write the document: %1, %2 pages.</translation>
    </message>
    <message>
        <source>跳过文档: %1</source>
        <translation>Document skipped: %1</translation>
    </message>
    <message>
        <source>错误: 文档未写入: %1</source>
        <translation>Error: the document was not written: %1</translation>
    </message>
</context>
<context>
    <name>undolog</name>
    <message>
        <source>已删除: </source>
        <translation>Removed: </translation>
    </message>
    <message>
        <source>已恢复: </source>
        <translation>Restored: </translation>
    </message>
    <message>
        <source>运行后已更改, 未删除: </source>
        <translation>Changed since the run, kept: </translation>
    </message>
    <message>
        <source>无法恢复被替换的文件: </source>
        <translation>Cannot give back the replaced file: </translation>
    </message>
    <message>
        <source>错误: </source>
        <translation>Error: </translation>
    </message>
    <message>
        <source>第 %1 行: %2</source>
        <translation>line %1: %2</translation>
    </message>
    <message>
        <source>没有密钥</source>
        <translation>there is no key</translation>
    </message>
    <message>
        <source>有一行超过 64 KB</source>
        <translation>it has a line over 64 KB</translation>
    </message>
    <message>
        <source>由另一版本的 Velmora 写成, 或不是运行日志</source>
        <translation>it was written by another version of Velmora, or is no run journal</translation>
    </message>
    <message>
        <source>不是用此用户的密钥签名的</source>
        <translation>it is not signed with this user&apos;s key</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>it is not a regular file</translation>
    </message>
    <message>
        <source>是空的</source>
        <translation>it is empty</translation>
    </message>
    <message>
        <source>没有签名</source>
        <translation>not signed</translation>
    </message>
    <message>
        <source>签名不符</source>
        <translation>its signature does not match</translation>
    </message>
    <message>
        <source>属于另一次运行</source>
        <translation>it belongs to another run</translation>
    </message>
    <message>
        <source>无法理解</source>
        <translation>not understood</translation>
    </message>
    <message>
        <source>不在运行所用的回收站中</source>
        <translation>not in the trash the run used</translation>
    </message>
    <message>
        <source>回收站中已没有它</source>
        <translation>the trash no longer holds it</translation>
    </message>
    <message>
        <source>回收站中同名的文件不是运行保存的那个</source>
        <translation>the file of that name in the trash is not the one the run kept</translation>
    </message>
    <message>
        <source>已不是运行写入的那个文件夹</source>
        <translation>is no longer the folder the run wrote into</translation>
    </message>
    <message>
        <source>日志被拒绝, 未做任何操作: </source>
        <translation>Journal refused, nothing done: </translation>
    </message>
    <message>
        <source>已删除空文件夹: </source>
        <translation>Removed empty folder: </translation>
    </message>
    <message>
        <source>已不存在, 无需删除: </source>
        <translation>Already gone, nothing to remove: </translation>
    </message>
    <message>
        <source>之前的撤销已处理: </source>
        <translation>Handled by an earlier undo: </translation>
    </message>
    <message>
        <source>已拒绝日志行: </source>
        <translation>Refused journal line: </translation>
    </message>
    <message>
        <source>没有需要撤销的内容。</source>
        <translation>Nothing was left to undo.</translation>
    </message>
</context>
<context>
    <name>velmora</name>
    <message>
        <source>this text</source>
        <translation>this text</translation>
    </message>
    <message>
        <source>the version of the program and of the libraries it runs with</source>
        <translation>the version of the program and of the libraries it runs with</translation>
    </message>
    <message>
        <source>Usage: velmora [FILE|FOLDER|URI]...</source>
        <translation>Usage: velmora [FILE|FOLDER|URI]...</translation>
    </message>
    <message>
        <source>%1: no such file or folder; starting without it</source>
        <translation>%1: no such file or folder; starting without it</translation>
    </message>
    <message>
        <source>convert the files with --preset, in the progress window alone</source>
        <translation>convert the files with --preset, in the progress window alone</translation>
    </message>
    <message>
        <source>the saved preset --run converts with</source>
        <translation>the saved preset --run converts with</translation>
    </message>
    <message>
        <source>ask for the preset, then convert as --run</source>
        <translation>ask for the preset, then convert as --run</translation>
    </message>
    <message>
        <source>   or: velmora --run --preset NAME FILE...</source>
        <translation>   or: velmora --run --preset NAME FILE...</translation>
    </message>
    <message>
        <source>   or: velmora --choose-preset FILE...</source>
        <translation>   or: velmora --choose-preset FILE...</translation>
    </message>
</context>
<context>
    <name>velmora-batch</name>
    <message>
        <source>cannot tell the current folder for %1</source>
        <translation>cannot tell the current folder for %1</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>cannot read %1: %2</translation>
    </message>
    <message>
        <source>cannot read %1</source>
        <translation>cannot read %1</translation>
    </message>
    <message>
        <source>--shard auto: SLURM_ARRAY_TASK_MIN is missing or above the task id</source>
        <translation>--shard auto: SLURM_ARRAY_TASK_MIN is missing or above the task id</translation>
    </message>
    <message>
        <source>--shard auto: neither SLURM_ARRAY_TASK_COUNT nor SLURM_ARRAY_TASK_MAX is set</source>
        <translation>--shard auto: neither SLURM_ARRAY_TASK_COUNT nor SLURM_ARRAY_TASK_MAX is set</translation>
    </message>
    <message>
        <source>--shard auto in a Kubernetes Indexed Job needs --shards N (the job&apos;s completions)</source>
        <translation>--shard auto in a Kubernetes Indexed Job needs --shards N (the job&apos;s completions)</translation>
    </message>
    <message>
        <source>--shard auto: no Slurm array task (SLURM_ARRAY_TASK_ID) or Kubernetes index (JOB_COMPLETION_INDEX) in the environment</source>
        <translation>--shard auto: no Slurm array task (SLURM_ARRAY_TASK_ID) or Kubernetes index (JOB_COMPLETION_INDEX) in the environment</translation>
    </message>
    <message>
        <source>--shard takes K/N (1/4 ... 4/4) or auto</source>
        <translation>--shard takes K/N (1/4 ... 4/4) or auto</translation>
    </message>
    <message>
        <source>--shard %1: part %2 of %3 does not exist</source>
        <translation>--shard %1: part %2 of %3 does not exist</translation>
    </message>
    <message>
        <source>%1 takes %2</source>
        <translation>%1 takes %2</translation>
    </message>
    <message>
        <source>unknown format &apos;%1&apos; (%2)</source>
        <translation>unknown format &apos;%1&apos; (%2)</translation>
    </message>
    <message>
        <source>--out needs a folder name</source>
        <translation>--out needs a folder name</translation>
    </message>
    <message>
        <source>unknown resize rule &apos;%1&apos; (%2)</source>
        <translation>unknown resize rule &apos;%1&apos; (%2)</translation>
    </message>
    <message>
        <source>--color takes six hexadecimal digits, RRGGBB</source>
        <translation>--color takes six hexadecimal digits, RRGGBB</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>unknown option %1</translation>
    </message>
    <message>
        <source>--update and --overwrite do not go together</source>
        <translation>--update and --overwrite do not go together</translation>
    </message>
    <message>
        <source>--shard needs --overwrite overwrite, --overwrite skip or --update (a shard asks nothing, and renaming would race with the other shards)</source>
        <translation>--shard needs --overwrite overwrite, --overwrite skip or --update (a shard asks nothing, and renaming would race with the other shards)</translation>
    </message>
    <message>
        <source>--shards goes with --shard auto</source>
        <translation>--shards goes with --shard auto</translation>
    </message>
    <message>
        <source>-0 goes with --files-from</source>
        <translation>-0 goes with --files-from</translation>
    </message>
    <message>
        <source>no files given</source>
        <translation>no files given</translation>
    </message>
    <message>
        <source>too many files</source>
        <translation>too many files</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 needs a value</translation>
    </message>
    <message>
        <source>%1/%2 files</source>
        <translation>%1/%2 files</translation>
    </message>
    <message>
        <source>, %1/s, %2 left</source>
        <translation>, %1/s, %2 left</translation>
    </message>
    <message>
        <source>an output exists and there is no terminal to ask; use --overwrite rename, overwrite or skip</source>
        <translation>an output exists and there is no terminal to ask; use --overwrite rename, overwrite or skip</translation>
    </message>
    <message>
        <source>[r] rename  [o] overwrite  [s] skip  [c] cancel; add ! to keep the answer (r!, o!, s!): </source>
        <translation>[r] rename  [o] overwrite  [s] skip  [c] cancel; add ! to keep the answer (r!, o!, s!): </translation>
    </message>
    <message>
        <source>a name part cannot hold &quot;/&quot;</source>
        <translation>a name part cannot hold &quot;/&quot;</translation>
    </message>
    <message>
        <source>a name part cannot hold a control character</source>
        <translation>a name part cannot hold a control character</translation>
    </message>
    <message>
        <source>output format (default keep)</source>
        <translation>output format (default keep)</translation>
    </message>
    <message>
        <source>JPEG, WebP, AVIF and JXL quality 0-100 (default 95; 100 is
lossless for WebP, AVIF and JXL)</source>
        <translation>JPEG, WebP, AVIF and JXL quality 0-100 (default 95; 100 is
lossless for WebP, AVIF and JXL)</translation>
    </message>
    <message>
        <source>destination folder, made when missing (default: beside each source)</source>
        <translation>destination folder, made when missing (default: beside each source)</translation>
    </message>
    <message>
        <source>rename: text before the name (no / or control characters)</source>
        <translation>rename: text before the name (no / or control characters)</translation>
    </message>
    <message>
        <source>rename: text after the name (no / or control characters)</source>
        <translation>rename: text after the name (no / or control characters)</translation>
    </message>
    <message>
        <source>rename: running numbers from N (0 keeps the names)</source>
        <translation>rename: running numbers from N (0 keeps the names)</translation>
    </message>
    <message>
        <source>never make an image larger</source>
        <translation>never make an image larger</translation>
    </message>
    <message>
        <source>sharpen after resizing (needs --resize or --sizes)</source>
        <translation>sharpen after resizing (needs --resize or --sizes)</translation>
    </message>
    <message>
        <source>turn every image</source>
        <translation>turn every image</translation>
    </message>
    <message>
        <source>watermark font (default: the system&apos;s sans font)</source>
        <translation>watermark font (default: the system&apos;s sans font)</translation>
    </message>
    <message>
        <source>watermark character height in pixels (default 16)</source>
        <translation>watermark character height in pixels (default 16)</translation>
    </message>
    <message>
        <source>watermark colour (default FF7A7A)</source>
        <translation>watermark colour (default FF7A7A)</translation>
    </message>
    <message>
        <source>when an output exists (default ask);
skip leaves it alone; a link there is replaced itself, and
an output that is a source of the run is refused</source>
        <translation>when an output exists (default ask);
skip leaves it alone; a link there is replaced itself, and
an output that is a source of the run is refused</translation>
    </message>
    <message>
        <source>convert only files newer than their existing output</source>
        <translation>convert only files newer than their existing output</translation>
    </message>
    <message>
        <source>a folder stands for the image files at any depth below it
(hidden folders left out); with --out the folders below
each folder given are made again there</source>
        <translation>a folder stands for the image files at any depth below it
(hidden folders left out); with --out the folders below
each folder given are made again there</translation>
    </message>
    <message>
        <source>read more files, one per line, from FILE (- for standard
input)</source>
        <translation>read more files, one per line, from FILE (- for standard
input)</translation>
    </message>
    <message>
        <source>the --files-from names end with a NUL, not a line end</source>
        <translation>the --files-from names end with a NUL, not a line end</translation>
    </message>
    <message>
        <source>convert only part K of N of the files (one machine&apos;s share);
needs --overwrite overwrite or skip, or --update. Running
numbers come from each file&apos;s place in the whole list, so a
file that fails leaves its number unused</source>
        <translation>convert only part K of N of the files (one machine&apos;s share);
needs --overwrite overwrite or skip, or --update. Running
numbers come from each file&apos;s place in the whole list, so a
file that fails leaves its number unused</translation>
    </message>
    <message>
        <source>K and N from a Slurm job array (SLURM_ARRAY_TASK_ID and
its MIN/MAX/STEP/COUNT) or a Kubernetes Indexed Job
(JOB_COMPLETION_INDEX, with --shards N)</source>
        <translation>K and N from a Slurm job array (SLURM_ARRAY_TASK_ID and
its MIN/MAX/STEP/COUNT) or a Kubernetes Indexed Job
(JOB_COMPLETION_INDEX, with --shards N)</translation>
    </message>
    <message>
        <source>files converted at once (default: one per core); the log,
the questions and the outputs keep the order of the files</source>
        <translation>files converted at once (default: one per core); the log,
the questions and the outputs keep the order of the files</translation>
    </message>
    <message>
        <source>keep photos as stored, not turned upright as their file says</source>
        <translation>keep photos as stored, not turned upright as their file says</translation>
    </message>
    <message>
        <source>write no metadata (EXIF, XMP, IPTC) into the outputs</source>
        <translation>write no metadata (EXIF, XMP, IPTC) into the outputs</translation>
    </message>
    <message>
        <source>drop only the GPS fields of the metadata</source>
        <translation>drop only the GPS fields of the metadata</translation>
    </message>
    <message>
        <source>the log as text (default) or as one JSON object per file
(source, output, status ok/skipped/error, reason, ms,
bytes_in, bytes_out) and a last one with the totals</source>
        <translation>the log as text (default) or as one JSON object per file
(source, output, status ok/skipped/error, reason, ms,
bytes_in, bytes_out) and a last one with the totals</translation>
    </message>
    <message>
        <source>this text</source>
        <translation>this text</translation>
    </message>
    <message>
        <source>the version of the program and of the libraries it runs with</source>
        <translation>the version of the program and of the libraries it runs with</translation>
    </message>
    <message>
        <source>Usage: velmora-batch [options] FILE...
Converts image files (JPEG, PNG, TIFF, GIF, BMP, PCX, WebP, AVIF, JPEG XL; HEIC,
PNM, ICO and TGA read only). A folder stands for the image files in it, in the
order the program lists them.
</source>
        <translation>Usage: velmora-batch [options] FILE...
Converts image files (JPEG, PNG, TIFF, GIF, BMP, PCX, WebP, AVIF, JPEG XL; HEIC,
PNM, ICO and TGA read only). A folder stands for the image files in it, in the
order the program lists them.
</translation>
    </message>
    <message>
        <source>Exit status: 0 when every file converted, 1 when any failed or the run was
cancelled, 2 on a usage error. Ctrl-C or SIGTERM stops the run (finished outputs
stay, the file in progress is dropped) and ends the program by that signal.
</source>
        <translation>Exit status: 0 when every file converted, 1 when any failed or the run was
cancelled, 2 on a usage error. Ctrl-C or SIGTERM stops the run (finished outputs
stay, the file in progress is dropped) and ends the program by that signal.
</translation>
    </message>
    <message>
        <source>Try &apos;velmora-batch --help&apos;.</source>
        <translation>Try &apos;velmora-batch --help&apos;.</translation>
    </message>
    <message>
        <source>cannot create the folder %1</source>
        <translation>cannot create the folder %1</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>a number from 0 to 100</source>
        <translation>a number from 0 to 100</translation>
    </message>
    <message>
        <source>a number from 0 up</source>
        <translation>a number from 0 up</translation>
    </message>
    <message>
        <source>rename from a template instead of --prefix/--suffix: {name},
{n} or {n:W} (running number from --start, default 1, W
digits), {date} or {date:FORMAT} (strftime; the photo&apos;s
DateTimeOriginal, else the file&apos;s time), {w} and {h} (the
output&apos;s size), {folder}; a / makes folders below --out</source>
        <translation>rename from a template instead of --prefix/--suffix: {name},
{n} or {n:W} (running number from --start, default 1, W
digits), {date} or {date:FORMAT} (strftime; the photo&apos;s
DateTimeOriginal, else the file&apos;s time), {w} and {h} (the
output&apos;s size), {folder}; a / makes folders below --out</translation>
    </message>
    <message>
        <source>the extension&apos;s case (default auto: the format&apos;s capitals
when the format changes, else the source&apos;s)</source>
        <translation>the extension&apos;s case (default auto: the format&apos;s capitals
when the format changes, else the source&apos;s)</translation>
    </message>
    <message>
        <source>with --width W and/or --height H:
fit needs both, width needs W, height needs H, stretch both;
long and short set that side to --size N, percent scales by
--percent P (1-1000); fill covers W x H and crops to it, pad
fits inside W x H on a --background canvas</source>
        <translation>with --width W and/or --height H:
fit needs both, width needs W, height needs H, stretch both;
long and short set that side to --size N, percent scales by
--percent P (1-1000); fill covers W x H and crops to it, pad
fits inside W x H on a --background canvas</translation>
    </message>
    <message>
        <source>a number of pixels</source>
        <translation>a number of pixels</translation>
    </message>
    <message>
        <source>a number of pixels from 1 up</source>
        <translation>a number of pixels from 1 up</translation>
    </message>
    <message>
        <source>a number from 1 to 1000</source>
        <translation>a number from 1 to 1000</translation>
    </message>
    <message>
        <source>the canvas colour of pad (default FFFFFF); a picture&apos;s
transparency stays where the output keeps it</source>
        <translation>the canvas colour of pad (default FFFFFF); a picture&apos;s
transparency stays where the output keeps it</translation>
    </message>
    <message>
        <source>first cut every image to this ratio (1:1, 4:3, 16:9) around
--gravity</source>
        <translation>first cut every image to this ratio (1:1, 4:3, 16:9) around
--gravity</translation>
    </message>
    <message>
        <source>a number of pixels from 1 to 2000</source>
        <translation>a number of pixels from 1 to 2000</translation>
    </message>
    <message>
        <source>give each output its source&apos;s modification time</source>
        <translation>give each output its source&apos;s modification time</translation>
    </message>
    <message>
        <source>date each output by the photo&apos;s DateTimeOriginal (else the
source&apos;s time); --update counts an output so dated as up
to date</source>
        <translation>date each output by the photo&apos;s DateTimeOriginal (else the
source&apos;s time); --update counts an output so dated as up
to date</translation>
    </message>
    <message>
        <source>a number from 1 up</source>
        <translation>a number from 1 up</translation>
    </message>
    <message>
        <source>a number from 1 to 64</source>
        <translation>a number from 1 to 64</translation>
    </message>
    <message>
        <source>--background takes six hexadecimal digits, RRGGBB</source>
        <translation>--background takes six hexadecimal digits, RRGGBB</translation>
    </message>
    <message>
        <source>--crop-ratio takes W:H, two numbers from 1 to 100000 (1:1, 4:3, 16:9)</source>
        <translation>--crop-ratio takes W:H, two numbers from 1 to 100000 (1:1, 4:3, 16:9)</translation>
    </message>
    <message>
        <source>--size goes with --resize long or short</source>
        <translation>--size goes with --resize long or short</translation>
    </message>
    <message>
        <source>--percent goes with --resize percent</source>
        <translation>--percent goes with --resize percent</translation>
    </message>
    <message>
        <source>--background goes with --resize pad</source>
        <translation>--background goes with --resize pad</translation>
    </message>
    <message>
        <source>--gravity goes with --resize fill or pad, or --crop-ratio</source>
        <translation>--gravity goes with --resize fill or pad, or --crop-ratio</translation>
    </message>
    <message>
        <source>--width and --height go with --resize</source>
        <translation>--width and --height go with --resize</translation>
    </message>
    <message>
        <source>--sharpen and --no-enlarge go with --resize</source>
        <translation>--sharpen and --no-enlarge go with --resize</translation>
    </message>
    <message>
        <source>%1 takes %2, not --width or --height</source>
        <translation>%1 takes %2, not --width or --height</translation>
    </message>
    <message>
        <source>%1 needs %2</source>
        <translation>%1 needs %2</translation>
    </message>
    <message>
        <source>--width and --height</source>
        <translation>--width and --height</translation>
    </message>
    <message>
        <source>%1 needs %2 of 1 pixel or more</source>
        <translation>%1 needs %2 of 1 pixel or more</translation>
    </message>
    <message>
        <source>--keep-dates and --date-from-exif do not go together</source>
        <translation>--keep-dates and --date-from-exif do not go together</translation>
    </message>
    <message>
        <source>--name does not go with --prefix or --suffix</source>
        <translation>--name does not go with --prefix or --suffix</translation>
    </message>
    <message>
        <source>unknown token %1</source>
        <translation>unknown token %1</translation>
    </message>
    <message>
        <source>the name template gives an empty, &quot;.&quot; or &quot;..&quot; folder for this file</source>
        <translation>the name template gives an empty, &quot;.&quot; or &quot;..&quot; folder for this file</translation>
    </message>
    <message>
        <source>the name template gives this file an empty name</source>
        <translation>the name template gives this file an empty name</translation>
    </message>
    <message>
        <source>the name template is empty</source>
        <translation>the name template is empty</translation>
    </message>
    <message>
        <source>the name template must name a place below the destination, not an absolute path</source>
        <translation>the name template must name a place below the destination, not an absolute path</translation>
    </message>
    <message>
        <source>the name template cannot hold a control character</source>
        <translation>the name template cannot hold a control character</translation>
    </message>
    <message>
        <source>the name template cannot have an empty, &quot;.&quot; or &quot;..&quot; part</source>
        <translation>the name template cannot have an empty, &quot;.&quot; or &quot;..&quot; part</translation>
    </message>
    <message>
        <source>--logo needs a file name</source>
        <translation>--logo needs a file name</translation>
    </message>
    <message>
        <source>%1 goes with --stamp or --logo</source>
        <translation>%1 goes with --stamp or --logo</translation>
    </message>
    <message>
        <source>where the watermark goes (default bottom-right)</source>
        <translation>where the watermark goes (default bottom-right)</translation>
    </message>
    <message>
        <source>the watermark&apos;s distance from the edges (default 10)</source>
        <translation>the watermark&apos;s distance from the edges (default 10)</translation>
    </message>
    <message>
        <source>a number of pixels from 0 to 10000</source>
        <translation>a number of pixels from 0 to 10000</translation>
    </message>
    <message>
        <source>the watermark&apos;s opacity, 0-100 (default 100)</source>
        <translation>the watermark&apos;s opacity, 0-100 (default 100)</translation>
    </message>
    <message>
        <source>the watermark text&apos;s height as a share of the picture&apos;s
height, instead of --font-size</source>
        <translation>the watermark text&apos;s height as a share of the picture&apos;s
height, instead of --font-size</translation>
    </message>
    <message>
        <source>a number from 1 to 100</source>
        <translation>a number from 1 to 100</translation>
    </message>
    <message>
        <source>a shadow under the watermark text, for any background</source>
        <translation>a shadow under the watermark text, for any background</translation>
    </message>
    <message>
        <source>a picture as watermark (PNG, WebP or any the program reads;
its transparency kept), with or without --stamp</source>
        <translation>a picture as watermark (PNG, WebP or any the program reads;
its transparency kept), with or without --stamp</translation>
    </message>
    <message>
        <source>the logo&apos;s width as a share of the picture&apos;s (default 20)</source>
        <translation>the logo&apos;s width as a share of the picture&apos;s (default 20)</translation>
    </message>
    <message>
        <source>--undo-journal needs a file name</source>
        <translation>--undo-journal needs a file name</translation>
    </message>
    <message>
        <source>--undo and --undo-journal take no files and no --dry-run</source>
        <translation>--undo and --undo-journal take no files and no --dry-run</translation>
    </message>
    <message>
        <source>write nothing: tell for each file what the run would do
(convert, copy, skip, overwrite or rename, and to which
name); with --log json each record&apos;s outcome is
&quot;planned&quot; and its &quot;action&quot; says which</source>
        <translation>write nothing: tell for each file what the run would do
(convert, copy, skip, overwrite or rename, and to which
name); with --log json each record&apos;s outcome is
&quot;planned&quot; and its &quot;action&quot; says which</translation>
    </message>
    <message>
        <source>keep each file an output replaces in the desktop trash, so
--undo can give it back</source>
        <translation>keep each file an output replaces in the desktop trash, so
--undo can give it back</translation>
    </message>
    <message>
        <source>undo the last run: remove its outputs and give back the
files it replaced from the trash</source>
        <translation>undo the last run: remove its outputs and give back the
files it replaced from the trash</translation>
    </message>
    <message>
        <source>undo the run of that journal instead of the last</source>
        <translation>undo the run of that journal instead of the last</translation>
    </message>
    <message>
        <source>there is no run to undo</source>
        <translation>there is no run to undo</translation>
    </message>
    <message>
        <source>write progressive JPEGs</source>
        <translation>write progressive JPEGs</translation>
    </message>
    <message>
        <source>JPEG chroma subsampling (default: 444 from quality 90 up,
else 420)</source>
        <translation>JPEG chroma subsampling (default: 444 from quality 90 up,
else 420)</translation>
    </message>
    <message>
        <source>PNG compression level 0-9 (default 4)</source>
        <translation>PNG compression level 0-9 (default 4)</translation>
    </message>
    <message>
        <source>a number from 0 to 9</source>
        <translation>a number from 0 to 9</translation>
    </message>
    <message>
        <source>TIFF compression (default deflate); jpeg is lossy at
--quality and writes no transparency</source>
        <translation>TIFF compression (default deflate); jpeg is lossy at
--quality and writes no transparency</translation>
    </message>
    <message>
        <source>WebP effort 0-6 (default 4); higher is smaller and slower</source>
        <translation>WebP effort 0-6 (default 4); higher is smaller and slower</translation>
    </message>
    <message>
        <source>a number from 0 to 6</source>
        <translation>a number from 0 to 6</translation>
    </message>
    <message>
        <source>write WebP lossless at any quality</source>
        <translation>write WebP lossless at any quality</translation>
    </message>
    <message>
        <source>a number from 0 to 10</source>
        <translation>a number from 0 to 10</translation>
    </message>
    <message>
        <source>JPEG XL effort 1-9 (default 5, 3 when lossless)</source>
        <translation>JPEG XL effort 1-9 (default 5, 3 when lossless)</translation>
    </message>
    <message>
        <source>a number from 1 to 9</source>
        <translation>a number from 1 to 9</translation>
    </message>
    <message>
        <source>dots per inch written into JPEG (JFIF), PNG (pHYs), TIFF
and any EXIF carried</source>
        <translation>dots per inch written into JPEG (JFIF), PNG (pHYs), TIFF
and any EXIF carried</translation>
    </message>
    <message>
        <source>a number from 1 to 65535</source>
        <translation>a number from 1 to 65535</translation>
    </message>
    <message>
        <source>a JPEG only rotated stays a JPEG turned without loss, its
quality unused: where its blocks allow (auto, the
default), dropping the partial edge blocks (trim), or
never, encoded again (off)</source>
        <translation>a JPEG only rotated stays a JPEG turned without loss, its
quality unused: where its blocks allow (auto, the
default), dropping the partial edge blocks (trim), or
never, encoded again (off)</translation>
    </message>
    <message>
        <source>an output in its source&apos;s format and size, nothing drawn
on it and not rotated, that would be larger than its
source: the source copied instead (keep), or written
(write, the default)</source>
        <translation>an output in its source&apos;s format and size, nothing drawn
on it and not rotated, that would be larger than its
source: the source copied instead (keep), or written
(write, the default)</translation>
    </message>
    <message>
        <source>watermark text (lower right by default); {name}, {n}, {date}
and {folder} become each file&apos;s own</source>
        <translation>watermark text (lower right by default); {name}, {n}, {date}
and {folder} become each file&apos;s own</translation>
    </message>
    <message>
        <source>cannot read the preset: %1</source>
        <translation>cannot read the preset: %1</translation>
    </message>
    <message>
        <source>a preset holds only a [Settings2] group</source>
        <translation>a preset holds only a [Settings2] group</translation>
    </message>
    <message>
        <source>%1 is given twice</source>
        <translation>%1 is given twice</translation>
    </message>
    <message>
        <source>not a NAME=VALUE line</source>
        <translation>not a NAME=VALUE line</translation>
    </message>
    <message>
        <source>unknown name %1</source>
        <translation>unknown name %1</translation>
    </message>
    <message>
        <source>%1 takes a number</source>
        <translation>%1 takes a number</translation>
    </message>
    <message>
        <source>%1 takes 0, 444, 422 or 420</source>
        <translation>%1 takes 0, 444, 422 or 420</translation>
    </message>
    <message>
        <source>%1 takes a number from %2 to %3</source>
        <translation>%1 takes a number from %2 to %3</translation>
    </message>
    <message>
        <source>%1: &apos;%2&apos; is no preset name (empty, a leading dot, a / or a control character)</source>
        <translation>%1: &apos;%2&apos; is no preset name (empty, a leading dot, a / or a control character)</translation>
    </message>
    <message>
        <source>cannot read the logo %1: %2</source>
        <translation>cannot read the logo %1: %2</translation>
    </message>
    <message>
        <source>--save-preset: a preset cannot keep %1</source>
        <translation>--save-preset: a preset cannot keep %1</translation>
    </message>
    <message>
        <source>every option of a saved preset (a name with a / is a file);
options after it change it, those before it are replaced</source>
        <translation>every option of a saved preset (a name with a / is a file);
options after it change it, those before it are replaced</translation>
    </message>
    <message>
        <source>save the other options as the preset NAME (with no files:
save only)</source>
        <translation>save the other options as the preset NAME (with no files:
save only)</translation>
    </message>
    <message>
        <source>list the saved presets, one name a line</source>
        <translation>list the saved presets, one name a line</translation>
    </message>
    <message>
        <source>cannot save the preset %1: %2</source>
        <translation>cannot save the preset %1: %2</translation>
    </message>
    <message>
        <source>%1: a name is longer than 64 KB</source>
        <translation>%1: a name is longer than 64 KB</translation>
    </message>
    <message>
        <source>the preset is larger than 1 MB</source>
        <translation>the preset is larger than 1 MB</translation>
    </message>
    <message>
        <source>--dry-run and --save-preset do not go together</source>
        <translation>--dry-run and --save-preset do not go together</translation>
    </message>
    <message>
        <source>the name template&apos;s date gives this file a control character</source>
        <translation>the name template&apos;s date gives this file a control character</translation>
    </message>
    <message>
        <source>--max-file-size takes a size from 1 KB to 1 GiB: a number and K, KB, M, MB, KiB or MiB (300K, 1.5MB)</source>
        <translation>--max-file-size takes a size from 1 KB to 1 GiB: a number and K, KB, M, MB, KiB or MiB (300K, 1.5MB)</translation>
    </message>
    <message>
        <source>%1 goes with --max-file-size</source>
        <translation>%1 goes with --max-file-size</translation>
    </message>
    <message>
        <source>--min-quality %1 is above the quality, %2</source>
        <translation>--min-quality %1 is above the quality, %2</translation>
    </message>
    <message>
        <source>no output larger than SIZE (300K, 1.5MB, 512KiB; K and M
are powers of 1000): the highest quality down to
--min-quality that fits; a file that cannot fit fails</source>
        <translation>no output larger than SIZE (300K, 1.5MB, 512KiB; K and M
are powers of 1000): the highest quality down to
--min-quality that fits; a file that cannot fit fails</translation>
    </message>
    <message>
        <source>the lowest quality --max-file-size may choose, 1-100
(default 30, not above --quality)</source>
        <translation>the lowest quality --max-file-size may choose, 1-100
(default 30, not above --quality)</translation>
    </message>
    <message>
        <source>--gravity attention and entropy go with --resize fill or --crop-ratio, not --resize pad</source>
        <translation>--gravity attention and entropy go with --resize fill or --crop-ratio, not --resize pad</translation>
    </message>
    <message>
        <source>where fill and --crop-ratio keep the picture and pad puts
it (default center); attention keeps the part with the most
edges, colour and skin tone, entropy the one with the most
detail (both not with pad)</source>
        <translation>where fill and --crop-ratio keep the picture and pad puts
it (default center); attention keeps the part with the most
edges, colour and skin tone, entropy the one with the most
detail (both not with pad)</translation>
    </message>
    <message>
        <source>--sizes takes the place of --resize: give one of them</source>
        <translation>--sizes takes the place of --resize: give one of them</translation>
    </message>
    <message>
        <source>--sizes needs {size} in the --name template (the sizes&apos; outputs would share a name)</source>
        <translation>--sizes needs {size} in the --name template (the sizes&apos; outputs would share a name)</translation>
    </message>
    <message>
        <source>instead of --resize: an output per size, from one decode;
up to 16 of Nw (width), Nh (height), N (long edge) or WxH
(fit inside), comma-separated; each named NAME_320w,
NAME_768h, NAME_1024px, NAME_800x600 (--name needs {size})</source>
        <translation>instead of --resize: an output per size, from one decode;
up to 16 of Nw (width), Nh (height), N (long edge) or WxH
(fit inside), comma-separated; each named NAME_320w,
NAME_768h, NAME_1024px, NAME_800x600 (--name needs {size})</translation>
    </message>
    <message>
        <source>at most %1 sizes</source>
        <translation>at most %1 sizes</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is no size: give Nw, Nh, N or WxH, each number from 1 to 2147483647</source>
        <translation>&apos;%1&apos; is no size: give Nw, Nh, N or WxH, each number from 1 to 2147483647</translation>
    </message>
    <message>
        <source>an output that does not fit --max-file-size even at
--min-quality is scaled down a tenth at a time until it
does</source>
        <translation>an output that does not fit --max-file-size even at
--min-quality is scaled down a tenth at a time until it
does</translation>
    </message>
    <message>
        <source>--crop and --crop-margins do not go together</source>
        <translation>--crop and --crop-margins do not go together</translation>
    </message>
    <message>
        <source>%1 goes with %2</source>
        <translation>%1 goes with %2</translation>
    </message>
    <message>
        <source>--border-inside needs a --resize rule that sets a size (any but percent) or --sizes</source>
        <translation>--border-inside needs a --resize rule that sets a size (any but percent) or --sizes</translation>
    </message>
    <message>
        <source>%1 takes a whole number from -100 to 100</source>
        <translation>%1 takes a whole number from -100 to 100</translation>
    </message>
    <message>
        <source>%1 takes h, v or hv</source>
        <translation>%1 takes h, v or hv</translation>
    </message>
    <message>
        <source>%1 takes X,Y,W,H: whole numbers of pixels, W and H above 0</source>
        <translation>%1 takes X,Y,W,H: whole numbers of pixels, W and H above 0</translation>
    </message>
    <message>
        <source>%1 takes T,R,B,L: each a whole number of pixels or a percentage (12.5%)</source>
        <translation>%1 takes T,R,B,L: each a whole number of pixels or a percentage (12.5%)</translation>
    </message>
    <message>
        <source>%1: the margins across or down add up to 100% or more</source>
        <translation>%1: the margins across or down add up to 100% or more</translation>
    </message>
    <message>
        <source>%1 takes a percentage from 0 to 100</source>
        <translation>%1 takes a percentage from 0 to 100</translation>
    </message>
    <message>
        <source>%1 takes a number from 0.1 to 10</source>
        <translation>%1 takes a number from 0.1 to 10</translation>
    </message>
    <message>
        <source>%1 takes pixels (0 to 10000) or a percentage of the shorter side (0% to 50%)</source>
        <translation>%1 takes pixels (0 to 10000) or a percentage of the shorter side (0% to 50%)</translation>
    </message>
    <message>
        <source>%1 takes six hexadecimal digits, RRGGBB</source>
        <translation>%1 takes six hexadecimal digits, RRGGBB</translation>
    </message>
    <message>
        <source>keep only the W x H part at X,Y (pixels of the upright
picture, clipped to it)</source>
        <translation>keep only the W x H part at X,Y (pixels of the upright
picture, clipped to it)</translation>
    </message>
    <message>
        <source>cut margins off the top, right, bottom and left, each in
pixels or with % (0,0,48,0 cuts a 48-pixel bar off the bottom)</source>
        <translation>cut margins off the top, right, bottom and left, each in
pixels or with % (0,0,48,0 cuts a 48-pixel bar off the bottom)</translation>
    </message>
    <message>
        <source>trim uniform borders of the corners&apos; colour (or transparent)</source>
        <translation>trim uniform borders of the corners&apos; colour (or transparent)</translation>
    </message>
    <message>
        <source>how far a border pixel may be from the border colour, 0-100
(default 10)</source>
        <translation>how far a border pixel may be from the border colour, 0-100
(default 10)</translation>
    </message>
    <message>
        <source>mirror left and right (h), top and bottom (v) or both</source>
        <translation>mirror left and right (h), top and bottom (v) or both</translation>
    </message>
    <message>
        <source>stretch each channel&apos;s darkest and lightest 0.5% to the full
range</source>
        <translation>stretch each channel&apos;s darkest and lightest 0.5% to the full
range</translation>
    </message>
    <message>
        <source>brightness -100 to 100</source>
        <translation>brightness -100 to 100</translation>
    </message>
    <message>
        <source>contrast -100 to 100</source>
        <translation>contrast -100 to 100</translation>
    </message>
    <message>
        <source>gamma 0.1 to 10 (above 1 lightens the middle tones)</source>
        <translation>gamma 0.1 to 10 (above 1 lightens the middle tones)</translation>
    </message>
    <message>
        <source>saturation -100 (grey) to 100 (doubled)</source>
        <translation>saturation -100 (grey) to 100 (doubled)</translation>
    </message>
    <message>
        <source>make the picture grey (Rec. 709 luma)</source>
        <translation>make the picture grey (Rec. 709 luma)</translation>
    </message>
    <message>
        <source>tone the picture sepia</source>
        <translation>tone the picture sepia</translation>
    </message>
    <message>
        <source>add a border of N pixels or N% of the shorter side</source>
        <translation>add a border of N pixels or N% of the shorter side</translation>
    </message>
    <message>
        <source>the border&apos;s colour (default FFFFFF)</source>
        <translation>the border&apos;s colour (default FFFFFF)</translation>
    </message>
    <message>
        <source>shrink the picture so that the resize&apos;s size holds the border</source>
        <translation>shrink the picture so that the resize&apos;s size holds the border</translation>
    </message>
    <message>
        <source>turn the crop ratio to each picture&apos;s orientation</source>
        <translation>turn the crop ratio to each picture&apos;s orientation</translation>
    </message>
    <message>
        <source>dots per inch drawings (SVG) are rendered at (default 96);
a resize renders them at its size directly</source>
        <translation>dots per inch drawings (SVG) are rendered at (default 96);
a resize renders them at its size directly</translation>
    </message>
    <message>
        <source>a number from 10 to 2400</source>
        <translation>a number from 10 to 2400</translation>
    </message>
    <message>
        <source>--settle takes seconds from 0 to 3600 (2, 0.5)</source>
        <translation>--settle takes seconds from 0 to 3600 (2, 0.5)</translation>
    </message>
    <message>
        <source>--then takes keep, trash or move:DIR</source>
        <translation>--then takes keep, trash or move:DIR</translation>
    </message>
    <message>
        <source>--watch needs a folder name</source>
        <translation>--watch needs a folder name</translation>
    </message>
    <message>
        <source>%1 goes with --watch</source>
        <translation>%1 goes with --watch</translation>
    </message>
    <message>
        <source>--watch takes no files, --files-from or --shard</source>
        <translation>--watch takes no files, --files-from or --shard</translation>
    </message>
    <message>
        <source>--watch and --dry-run do not go together</source>
        <translation>--watch and --dry-run do not go together</translation>
    </message>
    <message>
        <source>--watch does not go with --overwrite ask: nobody is there to answer</source>
        <translation>--watch does not go with --overwrite ask: nobody is there to answer</translation>
    </message>
    <message>
        <source>--watch: %1 is no folder</source>
        <translation>--watch: %1 is no folder</translation>
    </message>
    <message>
        <source>keep converting what arrives in DIR (below it with -r) until
stopped: the files there first, then each new or rewritten
one once written; implies --update</source>
        <translation>keep converting what arrives in DIR (below it with -r) until
stopped: the files there first, then each new or rewritten
one once written; implies --update</translation>
    </message>
    <message>
        <source>with --watch: leave the files already there alone</source>
        <translation>with --watch: leave the files already there alone</translation>
    </message>
    <message>
        <source>with --watch: a file whose close is not seen is taken once
its size and time held this long (default 2, 0-3600)</source>
        <translation>with --watch: a file whose close is not seen is taken once
its size and time held this long (default 2, 0-3600)</translation>
    </message>
    <message>
        <source>with --watch: what becomes of a source once its outputs
are on the disk: keep (default), trash, or move into DIR</source>
        <translation>with --watch: what becomes of a source once its outputs
are on the disk: keep (default), trash, or move into DIR</translation>
    </message>
    <message>
        <source>the options of a watch from FILE, KEY=VALUE lines: FOLDER,
PRESET, OUT, RECURSIVE, THEN, SETTLE, NEW_ONLY</source>
        <translation>the options of a watch from FILE, KEY=VALUE lines: FOLDER,
PRESET, OUT, RECURSIVE, THEN, SETTLE, NEW_ONLY</translation>
    </message>
    <message>
        <source>too few inotify watches to watch %1: raise /proc/sys/fs/inotify/max_user_watches (now %2)</source>
        <translation>too few inotify watches to watch %1: raise /proc/sys/fs/inotify/max_user_watches (now %2)</translation>
    </message>
    <message>
        <source>cannot watch %1: %2</source>
        <translation>cannot watch %1: %2</translation>
    </message>
    <message>
        <source>the watched folder %1 is gone</source>
        <translation>the watched folder %1 is gone</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>larger than 64 KB</source>
        <translation>larger than 64 KB</translation>
    </message>
    <message>
        <source>not a KEY=VALUE line of a known key (%1)</source>
        <translation>not a KEY=VALUE line of a known key (%1)</translation>
    </message>
    <message>
        <source>a value holds a NUL character</source>
        <translation>a value holds a NUL character</translation>
    </message>
    <message>
        <source>%1 takes yes or no</source>
        <translation>%1 takes yes or no</translation>
    </message>
    <message>
        <source>no FOLDER line</source>
        <translation>no FOLDER line</translation>
    </message>
    <message>
        <source>cannot move %1: %2</source>
        <translation>cannot move %1: %2</translation>
    </message>
    <message>
        <source>cannot move %1 to the trash: %2</source>
        <translation>cannot move %1 to the trash: %2</translation>
    </message>
    <message>
        <source>--combine takes a file name ending in .pdf, .tif or .tiff</source>
        <translation>--combine takes a file name ending in .pdf, .tif or .tiff</translation>
    </message>
    <message>
        <source>--combine and %1 do not go together</source>
        <translation>--combine and %1 do not go together</translation>
    </message>
    <message>
        <source>AVIF speed 0-10 (default 6); lower is smaller and slower</source>
        <translation>AVIF speed 0-10 (default 6); lower is smaller and slower</translation>
    </message>
    <message>
        <source>every output, in list order, as a page of one document FILE
(.pdf or .tif/.tiff) instead of files of their own</source>
        <translation>every output, in list order, as a page of one document FILE
(.pdf or .tif/.tiff) instead of files of their own</translation>
    </message>
    <message>
        <source>PDF page size (default image: the picture&apos;s size at its DPI,
72 without --dpi); a4 and letter fit the picture upright</source>
        <translation>PDF page size (default image: the picture&apos;s size at its DPI,
72 without --dpi); a4 and letter fit the picture upright</translation>
    </message>
    <message>
        <source>margin around the picture on PDF pages, 0-100 mm (default 0)</source>
        <translation>margin around the picture on PDF pages, 0-100 mm (default 0)</translation>
    </message>
    <message>
        <source>--set-if-empty goes with --set</source>
        <translation>--set-if-empty goes with --set</translation>
    </message>
    <message>
        <source>write a tag into each output&apos;s EXIF and XMP (after --strip;
repeatable): Artist, Copyright, ImageDescription,
Keywords (split at , or ;) or Rating (0-5); VALUE may
hold the --name tokens ({date:%Y}, {name}, {n})</source>
        <translation>write a tag into each output&apos;s EXIF and XMP (after --strip;
repeatable): Artist, Copyright, ImageDescription,
Keywords (split at , or ;) or Rating (0-5); VALUE may
hold the --name tokens ({date:%Y}, {name}, {n})</translation>
    </message>
    <message>
        <source>--set writes only the tags a picture lacks (in EXIF and XMP)</source>
        <translation>--set writes only the tags a picture lacks (in EXIF and XMP)</translation>
    </message>
    <message>
        <source>move the shot&apos;s dates (DateTimeOriginal, CreateDate and
their XMP twins) by +1h30m, -2d, +45s...; --date-from-exif,
--update and {date} see the moved date</source>
        <translation>move the shot&apos;s dates (DateTimeOriginal, CreateDate and
their XMP twins) by +1h30m, -2d, +45s...; --date-from-exif,
--update and {date} see the moved date</translation>
    </message>
    <message>
        <source>Rating takes 0 to 5, not &apos;%1&apos;</source>
        <translation>Rating takes 0 to 5, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>%1 takes at most %2 bytes</source>
        <translation>%1 takes at most %2 bytes</translation>
    </message>
    <message>
        <source>%1 may not hold a control character</source>
        <translation>%1 may not hold a control character</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is no TAG=VALUE</source>
        <translation>&apos;%1&apos; is no TAG=VALUE</translation>
    </message>
    <message>
        <source>unknown tag &apos;%1&apos; (Artist, Copyright, ImageDescription, Keywords, Rating)</source>
        <translation>unknown tag &apos;%1&apos; (Artist, Copyright, ImageDescription, Keywords, Rating)</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is no shift like +1h30m, -2d or +45s</source>
        <translation>&apos;%1&apos; is no shift like +1h30m, -2d or +45s</translation>
    </message>
    <message>
        <source>&apos;%1&apos; moves the dates more than 100 years</source>
        <translation>&apos;%1&apos; moves the dates more than 100 years</translation>
    </message>
    <message>
        <source>metadata cannot be written into AVIF/HEIC files as they are: they are encoded again</source>
        <translation>metadata cannot be written into AVIF/HEIC files as they are: they are encoded again</translation>
    </message>
    <message>
        <source>%1 takes page numbers and ranges, comma-separated: 1-3,7 or 5-</source>
        <translation>%1 takes page numbers and ranges, comma-separated: 1-3,7 or 5-</translation>
    </message>
    <message>
        <source>the pages of documents converted: 1-3,7 or 5- (to the end),
comma-separated (default: every page of a PDF); a TIFF
of several pages gives its pages only with this option;
a page of several is named NAME_p001</source>
        <translation>the pages of documents converted: 1-3,7 or 5- (to the end),
comma-separated (default: every page of a PDF); a TIFF
of several pages gives its pages only with this option;
a page of several is named NAME_p001</translation>
    </message>
    <message>
        <source>page %1 is past the end: it has %2 pages</source>
        <translation>page %1 is past the end: it has %2 pages</translation>
    </message>
</context>
</TS>
