#include "tests/viewer/viewer_fixture.h"

#include "viewer/backcolourdlg.h"
#include "controls/colourpicker.h"
#include "resources/ids_viewer.h"
#include "viewer/viewerfileops.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <filesystem>

#include <sys/stat.h>

using namespace viewertest;
namespace fs = std::filesystem;

namespace {

// The opener's side: a folder list of names, and a selected list of paths.
class FakeHost : public IPreviewHost {
public:
    void RemoveFolderPath(const QString &path) override
    {
        const int row = int(names.indexOf(QFileInfo(path).fileName()));
        removedRows.push_back(row);
        if (row >= 0)
            names.removeAt(row);
    }
    void AddFolderPathToSelection(const QString &path) override
    {
        if (names.contains(QFileInfo(path).fileName()))
            selected << path;
    }
    void RemoveSelectedPath(const QString &path) override { selected.removeOne(path); }

    QString folder;
    QStringList names;
    QStringList selected;
    std::vector<int> removedRows;
};

struct Box {
    QString title;
    QString text;
    QMessageBox::Icon icon;
};

// Answers the modal windows of one command while it lives: the save dialog
// gets `target` (or is cancelled when it is empty), the overwrite question
// is answered yes, the delete question as `confirm` says, notes are read.
class Answers {
public:
    Answers()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(2);
    }
    QString target;
    bool confirm = true;
    QStringList filters;
    QString initialName;
    std::vector<Box> boxes;
    int saveDialogs = 0;

    QStringList Texts() const
    {
        QStringList t;
        for (const Box &b : boxes)
            t << b.text;
        return t;
    }

private:
    void Poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || m_seen.contains(w))
            return;
        if (auto *dlg = qobject_cast<QFileDialog *>(w)) {
            m_seen << w;
            ++saveDialogs;
            filters = dlg->nameFilters();
            initialName = dlg->findChild<QLineEdit *>("fileNameEdit")->text();
            if (target.isEmpty()) {
                QMetaObject::invokeMethod(dlg, "reject", Qt::QueuedConnection);
                return;
            }
            dlg->selectFile(target);
            QMetaObject::invokeMethod(dlg, "accept", Qt::QueuedConnection);
        } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
            m_seen << w;
            boxes.push_back({box->windowTitle(), box->text(), box->icon()});
            QAbstractButton *button = box->button(QMessageBox::Ok);
            if (box->button(QMessageBox::Yes))
                button = box->text().contains(QString::fromUtf8("回收站")) && !confirm
                             ? box->button(QMessageBox::No)
                             : box->button(QMessageBox::Yes);
            QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
        }
    }

    QTimer m_timer;
    QList<QPointer<QWidget>> m_seen;
};

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString TrashFile(const QString &name)
{
    return QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash/files/" + name;
}

class FileCommandTest : public ViewerTest {
protected:
    // Pictures of distinct widths, so the one on display is known.
    void MakeFiles(int count, const char *ext = "png")
    {
        for (int i = 0; i < count; ++i)
            m_files << Pattern("p" + std::to_string(i) + "." + ext, 40 + i, 30);
        m_host.folder = QString::fromStdString(m_dir.Root());
        for (const QString &f : m_files)
            m_host.names << QFileInfo(f).fileName();
        m_host.selected = m_files;
    }
    CPreviewDlg &OpenWithHost(int start, int mode)
    {
        CPreviewDlg &dlg = Open(start, mode);
        dlg.SetHost(&m_host);
        return dlg;
    }
    // The folder list's names still match the viewer's list row for row.
    void ExpectAligned()
    {
        QStringList names;
        for (const QString &f : m_files)
            names << QFileInfo(f).fileName();
        EXPECT_EQ(m_host.names, names);
    }
    int ShownWidth() const { return m_dlg->GetImage().GetWidth(); }
    QString Scratch(const std::string &name) const { return QString::fromStdString(m_dir.Path(name)); }

    FakeHost m_host;
};

TEST(ViewerFileOps, FilterByExtensionAndIdentity)
{
    using viewerfiles::SaveFilterFor;
    EXPECT_EQ(SaveFilterFor("/a/b.JPG").description, QString::fromUtf8("JPG 文件 (*.jpg) "));
    EXPECT_EQ(SaveFilterFor("/a/b.jpg").pattern, "*.jpg");
    EXPECT_EQ(SaveFilterFor("/a/b.tiff").description, QString::fromUtf8("TIFF 文件 (*.tiff) "));
    EXPECT_EQ(SaveFilterFor("/a/b.Pcx").pattern, "*.pcx");
    EXPECT_EQ(SaveFilterFor("/a/b.webp").pattern, "*.webp");
    for (const char *other : {"/a/b.jpeg", "/a/b", "/a.png/b", "/a/b.png.txt"}) {
        EXPECT_EQ(SaveFilterFor(other).description, QString::fromUtf8("所有文件 (*.*) ")) << other;
        EXPECT_EQ(SaveFilterFor(other).pattern, "*.*");
    }

    testsupport::ScratchDir dir;
    const QString a = QString::fromStdString(dir.Path("a.png"));
    const QString b = QString::fromStdString(dir.Path("b.png"));
    ASSERT_TRUE(testsupport::WriteFileBytes(a.toStdString(), {1, 2, 3}));
    ASSERT_TRUE(testsupport::WriteFileBytes(b.toStdString(), {1, 2, 3}));
    fs::create_symlink(a.toStdString(), dir.Path("link.png"));
    fs::create_hard_link(a.toStdString(), dir.Path("hard.png"));
    EXPECT_TRUE(viewerfiles::IsSameFile(a, QString::fromStdString(dir.Root() + "//./a.png")));
    EXPECT_TRUE(viewerfiles::IsSameFile(a, QString::fromStdString(dir.Path("link.png"))));
    EXPECT_TRUE(viewerfiles::IsSameFile(a, QString::fromStdString(dir.Path("hard.png"))));
    EXPECT_FALSE(viewerfiles::IsSameFile(a, b)); // equal content is not identity
    EXPECT_FALSE(viewerfiles::IsSameFile(a, QString::fromStdString(dir.Path("new.png"))));
}

TEST(ViewerFileOps, FailuresRootMeetsLeaveEverythingInPlace)
{
    testsupport::ScratchDir dir;
    const QString a = QString::fromStdString(dir.Path("a.png"));
    ASSERT_TRUE(testsupport::WriteFileBytes(a.toStdString(), {7, 8, 9}));
    const QString folder = QString::fromStdString(dir.Path("folder"));
    QDir().mkpath(folder);
    const QString underFile = a + "/x.png";
    for (const QString &target : {folder, underFile}) {
        EXPECT_FALSE(viewerfiles::CopyFileTo(a, target).isEmpty()) << target.toStdString();
        EXPECT_FALSE(viewerfiles::MoveFileTo(a, target).isEmpty()) << target.toStdString();
        EXPECT_EQ(Bytes(a), QByteArray("\x07\x08\x09"));
    }
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_EQ(QDir(QString::fromStdString(dir.Root())).entryList(QDir::Files), QStringList{"a.png"});

    // Copies keep the time; a copy onto an existing file replaces it whole.
    const QString copy = QString::fromStdString(dir.Path("copy.png"));
    ASSERT_TRUE(testsupport::WriteFileBytes(copy.toStdString(), std::vector<std::uint8_t>(5000, 1)));
    fs::last_write_time(a.toStdString(), fs::file_time_type::clock::now() - std::chrono::hours(48));
    EXPECT_EQ(viewerfiles::CopyFileTo(a, copy), "");
    EXPECT_EQ(Bytes(copy), Bytes(a));
    EXPECT_EQ(fs::last_write_time(copy.toStdString()), fs::last_write_time(a.toStdString()));
}

TEST(ViewerFileOps, TrashWorksForAnAccountWithoutADataFolderYet)
{
    testsupport::ScratchDir dir;
    const QString a = QString::fromStdString(dir.Path("a.png"));
    ASSERT_TRUE(testsupport::WriteFileBytes(a.toStdString(), {1, 2, 3}));
    const QByteArray before = qgetenv("XDG_DATA_HOME");
    const QString dataHome = QString::fromStdString(dir.Path("new-account/.local/share"));
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    EXPECT_EQ(viewerfiles::MoveToTrash(a), "");
    qputenv("XDG_DATA_HOME", before);
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_TRUE(QFile::exists(dataHome + "/Trash/files/a.png"));
}

TEST(ViewerFileOps, MoveToAnotherFileSystemCopiesThenRemoves)
{
    // /dev/shm is a memory file system on most Linux machines: a rename
    // from the scratch folder to there fails with EXDEV.
    QTemporaryDir other("/dev/shm/velmora-move-XXXXXX");
    testsupport::ScratchDir dir;
    if (!other.isValid() || fs::status(other.path().toStdString()).type() != fs::file_type::directory)
        GTEST_SKIP() << "no second file system";
    struct stat a {
    }, b{};
    ::stat(other.path().toLocal8Bit().constData(), &a);
    ::stat(dir.Root().c_str(), &b);
    if (a.st_dev == b.st_dev)
        GTEST_SKIP() << "same file system";
    const QString source = QString::fromStdString(dir.Path("s.png"));
    ASSERT_TRUE(testsupport::WriteFileBytes(source.toStdString(), std::vector<std::uint8_t>(70000, 5)));
    const QByteArray bytes = Bytes(source);
    const QString target = other.filePath("t.png");
    EXPECT_EQ(viewerfiles::MoveFileTo(source, target), "");
    EXPECT_EQ(Bytes(target), bytes);
    EXPECT_FALSE(QFileInfo::exists(source));
    // A folder there is no target: the source stays.
    ASSERT_TRUE(testsupport::WriteFileBytes(source.toStdString(), {1}));
    QDir().mkpath(other.filePath("folder"));
    EXPECT_NE(viewerfiles::MoveFileTo(source, other.filePath("folder")), "");
    EXPECT_TRUE(QFileInfo::exists(source));
}

TEST_F(FileCommandTest, CopyAndMoveOntoTheFileItselfDoNothing)
{
    MakeFiles(2);
    const QByteArray original = Bytes(m_files[0]);
    fs::create_symlink(m_files[0].toStdString(), m_dir.Path("link.png"));
    CPreviewDlg &dlg = OpenWithHost(0, CPreviewDlg::MODE_FOLDER);
    const QStringList before = m_files;

    const QString spellings[] = {m_files[0], QString::fromStdString(m_dir.Root() + "//p0.png"),
                                 Scratch("link.png")};
    for (const QString &target : spellings) {
        for (void (CPreviewDlg::*command)() : {&CPreviewDlg::OnCopyTo, &CPreviewDlg::OnMoveTo}) {
            Answers answers;
            answers.target = target;
            (dlg.*command)();
            EXPECT_EQ(answers.saveDialogs, 1);
            EXPECT_EQ(answers.initialName, "p0.png");
            EXPECT_EQ(answers.Texts().filter(QString::fromUtf8("无法")), QStringList{});
            EXPECT_EQ(Bytes(m_files[0]), original) << target.toStdString();
            EXPECT_EQ(m_files, before);
            EXPECT_EQ(dlg.GetIndex(), 0);
        }
    }
    EXPECT_TRUE(m_host.removedRows.empty());
    EXPECT_TRUE(fs::is_symlink(m_dir.Path("link.png")));

    // A real copy leaves the list alone.
    Answers answers;
    answers.target = Scratch("copy.png");
    dlg.OnCopyTo();
    EXPECT_EQ(Bytes(Scratch("copy.png")), original);
    EXPECT_EQ(m_files, before);
}

TEST_F(FileCommandTest, MoveAndDeleteKeepTheFolderListAlignedAndWrapToTheFirst)
{
    MakeFiles(4);
    QDir().mkpath(Scratch("out"));
    CPreviewDlg &dlg = OpenWithHost(3, CPreviewDlg::MODE_FOLDER);
    ASSERT_EQ(ShownWidth(), 43);
    dlg.OnZoomIn();

    {
        Answers answers;
        answers.target = Scratch("out/moved.png");
        dlg.OnMoveTo(); // the last file: the first one follows
    }
    EXPECT_TRUE(QFileInfo::exists(Scratch("out/moved.png")));
    EXPECT_FALSE(QFileInfo::exists(Scratch("p3.png")));
    EXPECT_EQ(m_files.size(), 3);
    EXPECT_EQ(dlg.GetIndex(), 0);
    EXPECT_EQ(ShownWidth(), 40);
    EXPECT_FALSE(dlg.IsZoomed());
    EXPECT_EQ(m_host.removedRows, std::vector<int>{3});
    ExpectAligned();

    Key(Qt::Key_PageDown);
    {
        Answers answers;
        Key(Qt::Key_Delete); // a middle file: the next one moves up
        ASSERT_EQ(answers.boxes.size(), 1u);
        EXPECT_EQ(answers.boxes[0].title, "Velmora");
    }
    EXPECT_TRUE(QFileInfo::exists(TrashFile("p1.png")));
    EXPECT_FALSE(QFileInfo::exists(Scratch("p1.png")));
    EXPECT_EQ(dlg.GetIndex(), 1);
    EXPECT_EQ(ShownWidth(), 42);
    EXPECT_EQ(m_host.removedRows, (std::vector<int>{3, 1}));
    ExpectAligned();

    {
        Answers answers;
        Key(Qt::Key_Period, Qt::KeypadModifier); // the last again
    }
    EXPECT_EQ(dlg.GetIndex(), 0);
    EXPECT_EQ(ShownWidth(), 40);
    EXPECT_EQ(m_files, QStringList{Scratch("p0.png")});
    ExpectAligned();
}

TEST_F(FileCommandTest, DeletingTheOnlyFileEndsWithTheMessage)
{
    MakeFiles(1);
    CPreviewDlg &dlg = Open(0, CPreviewDlg::MODE_RESULTS);
    Answers answers;
    Key(Qt::Key_Delete);
    ASSERT_EQ(answers.boxes.size(), 2u);
    EXPECT_EQ(answers.boxes[1].text, QString::fromUtf8("没有可以显示的图像。"));
    EXPECT_EQ(answers.boxes[1].title, "Velmora");
    EXPECT_EQ(answers.boxes[1].icon, QMessageBox::Information);
    EXPECT_TRUE(m_files.isEmpty()); // the results list itself shrank
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.GetImage().IsValid());
    EXPECT_TRUE(QFileInfo::exists(TrashFile("p0.png")));
}

TEST_F(FileCommandTest, DeclinedAndFailedCommandsLeaveTheFileListed)
{
    MakeFiles(2);
    CPreviewDlg &dlg = OpenWithHost(1, CPreviewDlg::MODE_FOLDER);
    const QStringList before = m_files;
    auto expectUnchanged = [&] {
        EXPECT_EQ(m_files, before);
        EXPECT_EQ(dlg.GetIndex(), 1);
        EXPECT_TRUE(QFileInfo::exists(before[1]));
        EXPECT_TRUE(m_host.removedRows.empty());
        EXPECT_TRUE(dlg.isVisible());
    };
    {
        Answers answers;
        answers.confirm = false;
        Key(Qt::Key_Delete);
        EXPECT_EQ(answers.boxes.size(), 1u);
    }
    expectUnchanged();

    // Targets that even root cannot write: under a regular file.
    for (void (CPreviewDlg::*command)() : {&CPreviewDlg::OnCopyTo, &CPreviewDlg::OnMoveTo}) {
        Answers answers;
        answers.target = m_files[0] + "/x.png";
        (dlg.*command)();
        ASSERT_EQ(answers.boxes.size(), 1u);
        EXPECT_EQ(answers.boxes[0].title, "Velmora");
        EXPECT_EQ(answers.boxes[0].icon, QMessageBox::Information);
        EXPECT_TRUE(answers.boxes[0].text.contains(m_files[1]));
        expectUnchanged();
    }
    {
        Answers answers; // cancelled
        dlg.OnMoveTo();
        EXPECT_EQ(answers.saveDialogs, 1);
        EXPECT_TRUE(answers.boxes.empty());
    }
    expectUnchanged();

    // No trash can be made: the file stays where it was, and listed.
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(m_dir.Root()));
    qputenv("XDG_DATA_HOME", (before[0] + "/data").toUtf8());
    {
        Answers answers;
        Key(Qt::Key_Delete);
        ASSERT_EQ(answers.boxes.size(), 2u);
        EXPECT_EQ(answers.boxes[1].icon, QMessageBox::Information);
        EXPECT_TRUE(answers.boxes[1].text.contains(QString::fromUtf8("回收站")));
    }
    qputenv("XDG_DATA_HOME", dataHome);
    QDir::setCurrent(cwd);
    expectUnchanged();
    // Nothing of the failed attempt is left beside the pictures.
    EXPECT_EQ(QDir(QString::fromStdString(m_dir.Root())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"p0.png", "p1.png"}));
}

TEST_F(FileCommandTest, SaveDialogOffersTheFilterOfTheExtension)
{
    m_files << Pattern("photo.jpeg", 30, 20) << Pattern("photo.png", 30, 20);
    CPreviewDlg &dlg = Open(0, CPreviewDlg::MODE_RESULTS);
    Answers answers;
    dlg.OnCopyTo();
    EXPECT_EQ(answers.filters, QStringList{QString::fromUtf8("所有文件 (*.*)")});
    Key(Qt::Key_PageDown);
    dlg.OnMoveTo();
    EXPECT_EQ(answers.filters, QStringList{QString::fromUtf8("PNG 文件 (*.png)")});
    EXPECT_EQ(answers.saveDialogs, 2);
    EXPECT_EQ(m_files.size(), 2); // both cancelled
}

// Opens the context menu and reads the enabled state of the given items.
std::map<int, bool> MenuStates(CPreviewDlg &dlg, std::initializer_list<int> ids)
{
    std::map<int, bool> states;
    Answer([&](QWidget *w) {
        auto *menu = qobject_cast<QMenu *>(w);
        if (!menu)
            return false;
        for (int id : ids)
            if (QAction *a = menu->findChild<QAction *>(QString::number(id)))
                states[id] = a->isEnabled();
        menu->close();
        return true;
    });
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(30, 30), dlg.mapToGlobal(QPoint(30, 30)));
    QApplication::sendEvent(&dlg, &e);
    return states;
}

TEST_F(FileCommandTest, MenuStatesAndTheDeleteKeyAfterAnError)
{
    using namespace viewerid;
    m_files << Pattern("a.png", 30, 20) << Missing("gone.png") << Pattern("c.png", 30, 20);
    for (int mode : {CPreviewDlg::MODE_FOLDER, CPreviewDlg::MODE_RESULTS}) {
        CPreviewDlg &dlg = Open(0, mode);
        auto on = MenuStates(dlg, {ID_COPY_TO, ID_MOVE_TO, ID_DELETE, ID_BACK_COLOUR});
        EXPECT_TRUE(on[ID_COPY_TO] && on[ID_MOVE_TO] && on[ID_DELETE] && on[ID_BACK_COLOUR]);
        Key(Qt::Key_PageDown);
        ASSERT_TRUE(dlg.IsError());
        on = MenuStates(dlg, {ID_COPY_TO, ID_MOVE_TO, ID_DELETE, ID_BACK_COLOUR, ID_ZOOM_IN});
        EXPECT_FALSE(on[ID_COPY_TO] || on[ID_MOVE_TO] || on[ID_DELETE] || on[ID_ZOOM_IN]) << mode;
        EXPECT_TRUE(on[ID_BACK_COLOUR]);
    }
    // The Delete key still takes the missing file off the list.
    CPreviewDlg &dlg = Open(1, CPreviewDlg::MODE_FOLDER);
    {
        Answers answers;
        Key(Qt::Key_Delete);
        EXPECT_EQ(answers.boxes.size(), 1u);
    }
    EXPECT_EQ(m_files.size(), 2);
    EXPECT_EQ(dlg.GetIndex(), 1);
    EXPECT_FALSE(dlg.IsError());

    // Preview mode: removing from the list works on the error picture too;
    // past the end of the list there is nothing to act on.
    m_files.insert(0, Missing("gone.png"));
    CPreviewDlg &selected = Open(0, CPreviewDlg::MODE_SELECTED);
    EXPECT_TRUE(MenuStates(selected, {ID_REMOVE_FROM_LIST})[ID_REMOVE_FROM_LIST]);
    CPreviewDlg &beyond = Open(7, CPreviewDlg::MODE_FOLDER);
    const auto none = MenuStates(beyond, {ID_ADD_TO_LIST, ID_COPY_TO, ID_DELETE});
    EXPECT_FALSE(none.at(ID_ADD_TO_LIST) || none.at(ID_COPY_TO) || none.at(ID_DELETE));
}

TEST_F(FileCommandTest, ListCommandsOfThePreviewAndFolderModes)
{
    MakeFiles(3);
    CPreviewDlg &folder = OpenWithHost(1, CPreviewDlg::MODE_FOLDER);
    m_host.selected.clear();
    folder.OnAddToList();
    EXPECT_EQ(m_host.selected, QStringList{m_files[1]});
    EXPECT_EQ(folder.GetIndex(), 1);
    EXPECT_EQ(m_files.size(), 3);

    m_host.selected = m_files;
    const QStringList all = m_files;
    CPreviewDlg &dlg = OpenWithHost(2, CPreviewDlg::MODE_SELECTED);
    dlg.OnRemoveFromList();
    EXPECT_EQ(m_host.selected, (QStringList{all[0], all[1]}));
    EXPECT_EQ(m_files, m_host.selected);
    EXPECT_EQ(dlg.GetIndex(), 0);
    EXPECT_EQ(ShownWidth(), 40);
    EXPECT_TRUE(QFileInfo::exists(all[2])); // only unlisted
    dlg.OnRemoveFromList();
    {
        Answers answers;
        dlg.OnRemoveFromList();
        EXPECT_EQ(answers.Texts(), QStringList{QString::fromUtf8("没有可以显示的图像。")});
    }
    EXPECT_TRUE(m_host.selected.isEmpty());
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(FileCommandTest, DeleteKeyInThePreviewAlsoTakesTheSelectedRow)
{
    MakeFiles(3);
    m_host.selected = m_files;
    const QStringList all = m_files;
    CPreviewDlg &dlg = OpenWithHost(1, CPreviewDlg::MODE_SELECTED);
    {
        Answers answers;
        dlg.OnDelete();
    }
    EXPECT_FALSE(QFileInfo::exists(all[1]));
    EXPECT_EQ(m_host.selected, (QStringList{all[0], all[2]}));
    EXPECT_EQ(m_files, m_host.selected);
}

TEST_F(FileCommandTest, BackgroundColourIsStoredAndPainted)
{
    m_files << Pattern("a.png", 30, 20);
    CPreviewDlg &dlg = Open(0, CPreviewDlg::MODE_RESULTS);
    for (bool ok : {false, true}) {
        Answer([ok](QWidget *w) {
            auto *box = qobject_cast<CBackColourDlg *>(w);
            if (!box)
                return false;
            EXPECT_EQ(box->objectName(), "12015");
            auto *picker = box->findChild<CColourPicker *>("12000");
            EXPECT_EQ(picker->GetColour(), RGB(0, 0, 0));
            picker->SetColour(RGB(10, 20, 30));
            box->findChild<QPushButton *>(ok ? "1" : "2")->click();
            return true;
        });
        dlg.OnBackColour();
        if (!ok) {
            EXPECT_EQ(dlg.GetBackColour(), RGB(0, 0, 0));
            EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kBackRed, -1), -1);
        }
    }
    EXPECT_EQ(dlg.GetBackColour(), RGB(10, 20, 30));
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kBackRed, -1), 10);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kBackGreen, -1), 20);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kBackBlue, -1), 30);
    EXPECT_EQ(dlg.grab().toImage().pixelColor(1, 1), QColor(10, 20, 30));
}

TEST_F(FileCommandTest, SlideshowTicksDuringAQuestionLeaveTheCurrentFile)
{
    MakeFiles(3);
    WriteProfileInt(kSettingsSection, settingskey::kSlideShowDelay, 100);
    CPreviewDlg &dlg = OpenWithHost(0, CPreviewDlg::MODE_FOLDER);
    dlg.OnSlideShow();
    Answer([&](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box)
            return false;
        dlg.OnTimer(); // a tick while the user reads the question
        EXPECT_EQ(dlg.GetIndex(), 0);
        box->button(QMessageBox::Yes)->click();
        return true;
    });
    Key(Qt::Key_Delete);
    EXPECT_FALSE(QFileInfo::exists(Scratch("p0.png")));
    EXPECT_TRUE(QFileInfo::exists(Scratch("p1.png")));
    EXPECT_EQ(m_host.removedRows, std::vector<int>{0});
    ExpectAligned();
    EXPECT_EQ(ShownWidth(), 41);
    EXPECT_TRUE(dlg.IsSlideShow()); // and it runs on afterwards
}

} // namespace
