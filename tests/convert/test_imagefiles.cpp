#include "imaging/formats.h"
#include "convert/imagefiles.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

using namespace testsupport;

// A dot and an extension of any format, in any case: programs such as
// cjpeg or fax2tiff are no pictures.
TEST(GetImageType, ExtensionsAfterADotWithoutCase)
{
    const struct {
        std::uint32_t type;
        std::vector<const char *> names;
    } rows[] = {
        {CXIMAGE_FORMAT_BMP, {"a.BMP"}},
        {CXIMAGE_FORMAT_GIF, {"anim.Gif"}},
        {CXIMAGE_FORMAT_JPG, {"x.jpg", "a.jpeg", "x.JPEG", ".jpg"}},
        {CXIMAGE_FORMAT_PNG, {"/usr/bin/x.png"}},
        {CXIMAGE_FORMAT_TIF, {"scan.tiff"}},
        {CXIMAGE_FORMAT_PCX, {"old.pcx"}},
        {CXIMAGE_FORMAT_WEBP, {"p.WebP"}},
        {CXIMAGE_FORMAT_HEIF, {"p.heic"}},
        {CXIMAGE_FORMAT_PNM, {"a.pbm", "a.PGM", "a.ppm", "a.pnm", "a.pam"}},
        {CXIMAGE_FORMAT_ICO, {"fav.ICO", "arrow.cur"}},
        {CXIMAGE_FORMAT_TGA, {"t.Tga"}},
        {0,
         {"cjpeg", "cwebp", "fax2tiff", "nodotjpg", "/usr/bin/djpeg", "a.b/gif", "jpg", "pg", "notes.txt",
          "a.jpg.txt", "a."}},
    };
    for (const auto &row : rows)
        for (const char *name : row.names)
            EXPECT_EQ(GetImageType(name), row.type) << name;
}

TEST(ListImageFiles, RegularImageFilesInGb18030Order)
{
    ScratchDir dir;
    // In UTF-8 "吧" (U+5427) sorts before "啊" (U+554A); in GB18030 "啊" comes first.
    for (const char *name : {"吧.png", "啊.png", "b.jpg", "B.jpg", "1.gif", "readme.txt", "cjpeg"})
        ASSERT_TRUE(WriteFileBytes(dir.Path(name), {0}));
    ASSERT_EQ(mkdir(dir.Path("folder.png").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.Path("pipe.jpg").c_str(), 0600), 0);
    const std::vector<std::string> names = ListImageFiles(dir.Root() + "///");
    EXPECT_EQ(names, (std::vector<std::string>{"1.gif", "B.jpg", "b.jpg", "啊.png", "吧.png"}));
    EXPECT_TRUE(ImageNameLess("啊", "吧"));
    EXPECT_EQ(TrimFolder("///"), "/");
    EXPECT_EQ(TrimFolder("/a/b//"), "/a/b");
}

TEST(AbsolutePath, JoinsToTheFolderWithoutResolvingAnything)
{
    const struct {
        const char *path, *folder, *expected;
    } rows[] = {
        {"a.jpg", "/w", "/w/a.jpg"},
        {"./a.jpg", "/w/", "/w/a.jpg"},
        {"web//x/./b.png", "/w", "/w/web/x/b.png"},
        {"../up/a.jpg", "/w/link", "/w/link/../up/a.jpg"}, // ".." may go back through a link
        {"pics/", "/w", "/w/pics/"},
        {".", "/w", "/w"},
        {"a.jpg", "/", "/a.jpg"},
        {"/abs/a.jpg", "/w", "/abs/a.jpg"},
        {"", "/w", ""},
        {"a.jpg", "", "a.jpg"}, // no folder known
    };
    for (const auto &row : rows)
        EXPECT_EQ(AbsolutePath(row.path, row.folder), row.expected) << row.path << " in " << row.folder;
}
