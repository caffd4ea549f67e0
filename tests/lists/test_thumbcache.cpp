// The desktop's thumbnail cache: names as GLib and the file manager make
// them, which cached pictures stand for a file, what the loader writes, and
// when the cache is left alone.
#include "lists/thumbcache.h"
#include "lists/thumbnailloader.h"
#include "tests/lists/lists_fixture.h"
#include "tests/pdf_maker.h"

#include <QDir>
#include <QImageReader>

#include <QDirIterator>

#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <zlib.h>

namespace {

using namespace liststest;

using Texts = std::map<QString, QString>;

void PutPicture(const std::string &path, QSize size, const Texts &texts)
{
    QDir().mkpath(QFileInfo(Q(path)).path());
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto &[key, value] : texts)
        keys.emplace_back(key.toStdString(), value.toStdString());
    QFile file(Q(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(thumbcache::PngWithTexts(image, keys)) > 0)
        << path;
}

// The file holds a tEXt chunk of key and text, read from its bytes.
bool HasText(const std::string &path, const QString &key, const QString &text)
{
    QFile file(Q(path));
    return file.open(QIODevice::ReadOnly) &&
           file.readAll().contains("tEXt" + key.toLatin1() + '\0' + text.toLatin1());
}

QByteArray Chunk(const char *type, const QByteArray &body)
{
    const QByteArray typed = type + body;
    QByteArray chunk;
    for (const quint32 v :
         {quint32(body.size()),
          quint32(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size())))})
        for (int shift = 24; shift >= 0; shift -= 8)
            chunk += char((v >> shift) & 0xff);
    return chunk.insert(4, typed);
}

QByteArray Deflated(const QByteArray &text)
{
    return qCompress(text).mid(4); // Qt puts the length in front of the zlib stream
}

// A picture of size with chunks put before and after its image data.
QByteArray PngAround(QSize size, const QByteArray &before, const QByteArray &after)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png = thumbcache::PngWithTexts(image, {});
    png.insert(png.size() - 12, after); // before IEND
    return png.insert(33, before);      // after IHDR
}

// Every file below folder, as paths relative to it.
QStringList FilesBelow(const std::string &folder)
{
    QStringList files;
    for (QDirIterator it(Q(folder), QDir::Files | QDir::System, QDirIterator::Subdirectories); it.hasNext();)
        files << QDir(Q(folder)).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Dated an hour back: a file changed within the current second is not cached.
void Backdate(const std::string &path, time_t when = time(nullptr) - 3600)
{
    const struct timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

std::vector<LoaderResult> RunLoader(const std::string &path, int type, const std::string &root)
{
    LoaderJob job;
    job.serial = 1;
    job.path = path;
    job.type = type;
    CThumbnailLoader loader(
        {job}, [] {}, std::make_shared<const CThumbCache>(root));
    loader.Start();
    loader.Join();
    return loader.TakeResults();
}

int Mode(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

TEST(ThumbCacheNames, EscapeAsGLibAndHashTheUri)
{
    const char *const rows[][2] = {
        {"/home/jens/photos/me.png", "file:///home/jens/photos/me.png"},
        {"/a b/c  d.jpg", "file:///a%20b/c%20%20d.jpg"},
        {"/t/\xC3\xBC\xE5\x9B\xBE.png", "file:///t/%C3%BC%E5%9B%BE.png"}, // UTF-8 bytes
        {"/t/100%.png", "file:///t/100%25.png"},
        {"/t/#1?.png", "file:///t/%231%3F.png"},
        {"/t/;[]{}<>|\"^`\\.png", "file:///t/%3B%5B%5D%7B%7D%3C%3E%7C%22%5E%60%5C.png"},
        {"/t/!$&'()*+,-.=@_~:.png", "file:///t/!$&'()*+,-.=@_~:.png"},
        {"/t/\x7F\x01.png", "file:///t/%7F%01.png"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(thumbcache::FileUri(row[0]), row[1]);
    // The name the desktop gives that file.
    EXPECT_EQ(thumbcache::ThumbName("file:///home/jens/photos/me.png"),
              "c6ee772d9e49320e97ec29a7eb5b1697.png");
}

TEST(ThumbCacheFind, TakesOnlyPicturesThatStandForTheFileAndNeedNoEnlarging)
{
    testsupport::ScratchDir dir;
    const ThumbKey key{"file:///p/a.jpg", 1700000000, 4321};
    const Texts good = {{"Thumb::URI", Q(key.uri)},
                        {"Thumb::MTime", "1700000000"},
                        {"Thumb::Size", "4321"},
                        {"Thumb::Image::Width", "800"},
                        {"Thumb::Image::Height", "600"}};
    auto with = [&](const char *k, const char *v) {
        Texts t = good;
        if (v)
            t[k] = v;
        else
            t.erase(k);
        return t;
    };
    struct Row {
        const char *name;
        QSize normal; // invalid: none
        Texts normalTexts;
        QSize large;
        CachedCard::Kind kind;
    };
    const Row rows[] = {
        {"match", {128, 96}, good, {}, CachedCard::Kind::Card},
        {"no size key", {128, 96}, with("Thumb::Size", nullptr), {}, CachedCard::Kind::Card},
        {"other uri", {128, 96}, with("Thumb::URI", "file:///p/b.jpg"), {}, CachedCard::Kind::Miss},
        {"other mtime", {128, 96}, with("Thumb::MTime", "1700000001"), {}, CachedCard::Kind::Miss},
        {"other size", {128, 96}, with("Thumb::Size", "4322"), {}, CachedCard::Kind::Miss},
        {"no picture width", {128, 96}, with("Thumb::Image::Width", nullptr), {}, CachedCard::Kind::Miss},
        {"normal too small", {64, 48}, good, {}, CachedCard::Kind::Miss},
        {"large instead", {64, 48}, good, {256, 192}, CachedCard::Kind::Card},
        {"large only", {}, good, {256, 192}, CachedCard::Kind::Card},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const CThumbCache cache(dir.Path(std::to_string(n++)));
        if (row.normal.isValid())
            PutPicture(cache.NormalPath(key.uri), row.normal, row.normalTexts);
        if (row.large.isValid())
            PutPicture(cache.LargePath(key.uri), row.large, good);
        const CachedCard got = cache.Find(key);
        EXPECT_EQ(got.kind, row.kind);
        if (got.kind != CachedCard::Kind::Card)
            continue;
        EXPECT_EQ(std::pair(got.width, got.height), std::pair(800L, 600L)); // from the keys
        ASSERT_EQ(got.card.size(), QSize(96, 72));
        EXPECT_EQ(got.card.pixel(48, 36), qRgb(255, 0, 0));
    }
}

// Other writers put the keys after the image data or compress them; a key
// whose text inflates past any path (planted to fill the memory) is passed
// over without being inflated further.
TEST(ThumbCacheFind, KeysAreFoundAnywhereAndOverlongTextsPassedOver)
{
    testsupport::ScratchDir dir;
    const ThumbKey key{"file:///p/a.jpg", 1700000000, 4321};
    const auto text = [](const char *k, const QByteArray &v) { return Chunk("tEXt", k + ('\0' + v)); };
    const QByteArray uri = text("Thumb::URI", "file:///p/a.jpg");
    const QByteArray rest = text("Thumb::MTime", "1700000000") + text("Thumb::Image::Width", "800") +
                            text("Thumb::Image::Height", "600");
    const QByteArray zUri = Chunk("zTXt", QByteArray("Thumb::URI\0\0", 12) + Deflated("file:///p/a.jpg"));
    const QByteArray iUri =
        Chunk("iTXt", QByteArray("Thumb::URI\0\1\0\0\0", 15) + Deflated("file:///p/a.jpg"));
    const QByteArray huge =
        Chunk("zTXt", QByteArray("Thumb::URI\0\0", 12) + Deflated(QByteArray(64 << 20, 'a')));
    const struct {
        const char *name;
        QByteArray before, after;
        CachedCard::Kind kind;
    } rows[] = {
        {"all before", uri + rest, {}, CachedCard::Kind::Card},
        {"all after the image data", {}, uri + rest, CachedCard::Kind::Card},
        {"split", rest, uri, CachedCard::Kind::Card},
        {"zTXt", zUri, rest, CachedCard::Kind::Card},
        {"compressed iTXt", rest, iUri, CachedCard::Kind::Card},
        {"an overlong text after the right one", uri + rest + huge, {}, CachedCard::Kind::Card},
        {"only an overlong text", rest, huge, CachedCard::Kind::Miss},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const CThumbCache cache(dir.Path(std::to_string(n++)));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Q(cache.NormalPath(key.uri))).path()));
        QFile file(Q(cache.NormalPath(key.uri)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                    file.write(PngAround({128, 96}, row.before, row.after)));
        file.close();
        const CachedCard got = cache.Find(key);
        EXPECT_EQ(got.kind, row.kind);
        EXPECT_EQ(got.width, row.kind == CachedCard::Kind::Card ? 800 : 0);
    }
}

// A link planted for a folder of the cache, or for a picture in it, takes
// nothing to where it points and brings nothing from there.
TEST(ThumbCacheFind, NoPictureIsReadOrWrittenThroughALink)
{
    const ThumbKey key{"file:///p/a.jpg", 1700000000, 4321};
    const Texts good = {{"Thumb::URI", Q(key.uri)},
                        {"Thumb::MTime", "1700000000"},
                        {"Thumb::Image::Width", "800"},
                        {"Thumb::Image::Height", "600"}};
    const struct {
        std::string (CThumbCache::*card)(const std::string &) const;
        int up; // the link: the picture (0), its folder (1) or the folder above (2)
    } rows[] = {{&CThumbCache::NormalPath, 0}, {&CThumbCache::NormalPath, 1}, {&CThumbCache::LargePath, 1},
                {&CThumbCache::FailPath, 0},   {&CThumbCache::FailPath, 1},   {&CThumbCache::FailPath, 2}};
    for (const auto &row : rows) {
        testsupport::ScratchDir dir;
        const CThumbCache cache(dir.Path("thumbnails"));
        const std::string card = (cache.*row.card)(key.uri), elsewhere = dir.Path("elsewhere");
        SCOPED_TRACE(card + " up " + std::to_string(row.up));
        std::string link = card;
        for (int i = 0; i < row.up; ++i)
            link.erase(link.rfind('/'));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Q(link)).path()) && QDir().mkpath(Q(elsewhere)));
        const std::string target = row.up ? elsewhere : elsewhere + "/card.png";
        if (row.up == 0)
            PutPicture(target, {128, 96}, good);
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        if (row.up > 0)
            PutPicture(card, {128, 96}, good); // through the link
        const QStringList planted = FilesBelow(elsewhere);
        ASSERT_EQ(planted.size(), 1);
        EXPECT_EQ(cache.Find(key).kind, CachedCard::Kind::Miss);
        QImage image(128, 96, QImage::Format_RGB32);
        image.fill(Qt::blue);
        cache.StoreNormal(key, image, 800, 600);
        cache.StoreFailure(key, 800, 600);
        EXPECT_EQ(FilesBelow(elsewhere), planted);
    }
}

TEST(ThumbCacheLoader, WritesNormalPicturesPrivatelyAndFailuresOnce)
{
    testsupport::ScratchDir dir;
    const std::string root = dir.Path("cache/thumbnails");
    const CThumbCache cache(root);
    const std::string photo = dir.Path("photo one.png");
    WritePicture(photo, 800, 600);
    Backdate(photo);
    ThumbKey key;
    ASSERT_TRUE(CThumbCache::KeyOf(photo, key));
    ASSERT_EQ(RunLoader(photo, CXIMAGE_FORMAT_PNG, root).size(), 1u);

    const std::string written = cache.NormalPath(key.uri);
    EXPECT_EQ(written, root + "/normal/" + thumbcache::ThumbName(thumbcache::FileUri(photo)));
    QImageReader reader(Q(written), "png");
    EXPECT_EQ(reader.size(), QSize(128, 96));
    const Texts want = {{"Thumb::URI", Q(key.uri)},
                        {"Thumb::MTime", QString::number(key.mtime)},
                        {"Thumb::Size", QString::number(key.size)},
                        {"Thumb::Image::Width", "800"},
                        {"Thumb::Image::Height", "600"}};
    for (const auto &[k, v] : want)
        EXPECT_TRUE(HasText(written, k, v)) << k.toStdString();
    EXPECT_EQ(Mode(written), 0600);
    for (const std::string &folder : {root, root + "/normal"})
        EXPECT_EQ(Mode(folder), 0700) << folder;
    EXPECT_EQ(QDir(Q(root + "/normal")).entryList(QDir::Files).size(), 1); // no temporary left

    // A file that does not decode leaves a failure, and while it stays so the
    // failure stands for it: a picture put in its place under the same
    // stamp is not looked at, a changed mtime is.
    const std::string broken = dir.Path("broken.png");
    WriteBytes(broken, 300);
    Backdate(broken);
    RunLoader(broken, CXIMAGE_FORMAT_PNG, root);
    ASSERT_TRUE(CThumbCache::KeyOf(broken, key));
    EXPECT_EQ(Mode(cache.FailPath(key.uri)), 0600);
    EXPECT_TRUE(HasText(cache.FailPath(key.uri), "Thumb::URI", Q(key.uri)));
    const std::string image = dir.Path("image.png");
    WritePicture(image, 300, 200);
    for (const bool sameStamp : {true, false}) {
        SCOPED_TRACE(sameStamp);
        Backdate(image, time(nullptr) - (sameStamp ? 3600 : 1800));
        if (sameStamp) {
            ASSERT_TRUE(CThumbCache::KeyOf(image, key));
            ASSERT_TRUE(cache.StoreFailure(key, 0, 0));
        }
        const std::vector<LoaderResult> got = RunLoader(image, CXIMAGE_FORMAT_PNG, root);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].valid, !sameStamp);
        EXPECT_EQ(got[0].width, sameStamp ? 0 : 300);
    }
}

TEST(ThumbCacheLoader, FilesInsideTheCacheAreNotThumbnailedIntoIt)
{
    testsupport::ScratchDir dir;
    const std::string root = dir.Path("thumbnails");
    ASSERT_TRUE(QDir().mkpath(Q(root + "/normal")));
    ASSERT_EQ(::symlink(root.c_str(), dir.Path("link").c_str()), 0);
    const std::string inside = root + "/normal/x.png";
    WritePicture(inside, 400, 300);
    Backdate(inside);
    for (const std::string &path : {inside, dir.Path("link/normal/x.png")}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(RunLoader(path, CXIMAGE_FORMAT_PNG, root).size(), 1u);
        EXPECT_EQ(QDir(Q(root + "/normal")).entryList(QDir::Files), QStringList({"x.png"}));
    }
}

// The stored setting and the orientation choice reach the listing through
// its sources: off, or photos kept as stored, leave the cache untouched; so
// does a file dated now or later, which may change again under that date.
TEST_F(ListsTest, ThumbnailCacheOnlyWhenItsSettingAndUprightPhotosAllowIt)
{
    const std::string root = thumbcache::DefaultRoot();
    ASSERT_EQ(root, qEnvironmentVariable("XDG_CACHE_HOME").toStdString() + "/thumbnails"); // not the user's
    struct Row {
        bool cache, upright;
        int age; // seconds
        bool written;
    } const rows[] = {{false, true, 3600, false},
                      {true, false, 3600, false},
                      {true, true, -60, false},
                      {true, true, 3600, true}};
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(n);
        const std::string path = scratch.Path("p" + std::to_string(n++) + ".png");
        WritePicture(path, 200, 100);
        Backdate(path, time(nullptr) - row.age);
        lists->SetThumbnailCacheSource([on = row.cache] { return on; });
        lists->SetAutoRotateSource([on = row.upright] { return on; });
        lists->ListFolder(Dir());
        ASSERT_TRUE(WaitLoaded());
        EXPECT_EQ(QFile::exists(Q(CThumbCache(root).NormalPath(thumbcache::FileUri(path)))), row.written);
    }
}

} // namespace

// A document's pages are counted where its card is made, kept in the card's
// Thumb::Document::Pages key and read back from it; a picture gets no key.
// A PDF's card is its first page.
TEST(ThumbCacheLoader, DocumentsKeepTheirPagesWithTheirCard)
{
    testsupport::ScratchDir dir;
    const std::string root = dir.Path("cache/thumbnails");
    const CThumbCache cache(root);
    const testsupport::PdfPage red{144, 108, 1, 0, 0}, green{72, 72, 0, 1, 0};
    struct Row {
        const char *name;
        int type;
        int pages; // of the made document; 0 for a picture
    } rows[] = {{"three.pdf", CXIMAGE_FORMAT_PDF, 3},
                {"one.pdf", CXIMAGE_FORMAT_PDF, 1},
                {"p.png", CXIMAGE_FORMAT_PNG, 0}};
    for (const Row &row : rows) {
        const std::string path = dir.Path(row.name);
        std::vector<testsupport::PdfPage> pages(std::size_t(row.pages), green);
        if (row.pages > 0) {
            pages[0] = red;
            testsupport::MakePdf(path, pages);
        } else
            WritePicture(path, 80, 60);
        Backdate(path);
        ThumbKey key;
        ASSERT_TRUE(CThumbCache::KeyOf(path, key));
        for (const char *pass : {"decoded", "cached"}) {
            const std::vector<LoaderResult> results = RunLoader(path, row.type, root);
            ASSERT_EQ(results.size(), 1u) << row.name << pass;
            EXPECT_TRUE(results[0].valid) << row.name << pass;
            EXPECT_EQ(results[0].pages, row.pages) << row.name << pass;
            if (row.pages > 0) {
                EXPECT_EQ(results[0].thumb.pixel(48, 36), qRgb(255, 0, 0)) << row.name << pass;
            }
        }
        EXPECT_EQ(HasText(cache.NormalPath(key.uri), "Thumb::Document::Pages", QString::number(row.pages)),
                  row.pages > 0)
            << row.name;
    }
}
