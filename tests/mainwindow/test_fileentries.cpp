// The file managers' entries read as the file managers read them, the
// arguments they start the program with, and the Nautilus scripts the about
// box writes.
#include "app/dialogs/nautilusscripts.h"
#include "app/presetrun.h"
#include "imaging/formats.h"
#include "tests/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

using namespace testsupport;

namespace {

using Group = std::map<QString, QString>;

// A key file as the desktop entry format has it: UTF-8, "[group]" headers,
// "Key=Value" or "Key[locale]=Value" lines, "#" comments, no key twice in a
// group, no group twice; error says the first line that breaks it.
std::map<QString, Group> ParseKeyFile(const QByteArray &bytes, QString &error)
{
    std::map<QString, Group> groups;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        error = "not UTF-8";
    static const QRegularExpression key("^[A-Za-z0-9-]+(\\[[A-Za-z_@.]+\\])?$");
    Group *group = nullptr;
    for (const QString &line : text.split('\n')) {
        if (!error.isEmpty())
            break;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            const QString name = line.mid(1, line.size() - 2);
            if (groups.count(name))
                error = "group twice: " + line;
            group = &groups[name];
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!group || eq <= 0 || !key.match(line.left(eq).trimmed()).hasMatch())
            error = "not a key line: " + line;
        else if (!group->emplace(line.left(eq).trimmed(), line.mid(eq + 1).trimmed()).second)
            error = "key twice: " + line;
    }
    return groups;
}

// An Exec value's arguments: the string escapes undone, then split at
// spaces, a double-quoted argument taking \" \` \$ \\ escapes. Nothing when a
// character the format reserves stands unquoted or a quote is left open.
std::optional<QStringList> ExecArguments(QString value)
{
    value.replace("\\s", " ")
        .replace("\\n", "\n")
        .replace("\\t", "\t")
        .replace("\\r", "\r")
        .replace("\\\\", "\\");
    QStringList args;
    QString arg;
    bool quoted = false, inArg = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < value.size() && QString("\"`$\\").contains(value[i + 1]))
                arg += value[++i];
            else if (c == '\\' || c == '`' || c == '$')
                return std::nullopt;
            else
                arg += c;
        } else if (c == ' ') {
            if (inArg)
                args.push_back(arg);
            arg.clear();
            inArg = false;
        } else if (c == '"') {
            quoted = inArg = true;
        } else if (QString("\t\n'\\><~|&;$*?#()`").contains(c)) {
            return std::nullopt;
        } else {
            arg += c;
            inArg = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArg)
        args.push_back(arg);
    return args;
}

std::set<QString> List(const QString &value)
{
    const QStringList items = value.split(';', Qt::SkipEmptyParts);
    return {items.begin(), items.end()};
}

std::set<QString> FormatMimeTypes()
{
    std::set<QString> types;
    for (const ImageFormat &f : ImageFormats())
        for (std::string_view type : f.Readable() ? f.MimeTypes() : std::span<const std::string_view>())
            types.insert(QString::fromUtf8(type.data(), qsizetype(type.size())));
    return types;
}

} // namespace

TEST(FileManagerEntries, EachEntryReadsAsItsFileManagerReadsIt)
{
    const struct Row {
        const char *file;
        const char *mainGroup;
        const char *mimeKey;
        std::map<QString, QString> main; // keys with their exact values
        QString actionPrefix;            // "" : the main group is the one action
        PresetRunRequest::Mode mode;     // per action, in Actions= order
        PresetRunRequest::Mode second;
    } rows[] = {
        {"velmora-servicemenu.desktop",
         "Desktop Entry",
         "MimeType",
         {{"Type", "Service"},
          {"X-KDE-ServiceTypes", "KonqPopupMenu/Plugin"},
          {"Actions", "convert;preset;"}},
         "Desktop Action ",
         PresetRunRequest::None,
         PresetRunRequest::Choose},
        {"velmora-convert.nemo_action",
         "Nemo Action",
         "Mimetypes",
         {{"Selection", "notnone"}},
         "",
         PresetRunRequest::None,
         PresetRunRequest::None},
        {"velmora-preset.nemo_action",
         "Nemo Action",
         "Mimetypes",
         {{"Selection", "notnone"}},
         "",
         PresetRunRequest::Choose,
         PresetRunRequest::Choose},
    };
    const QStringList picked = {"/p/a b.png", "/p/-c.jpg"};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file);
        QFile file(QString::fromStdString(DataPath(std::string("../../data/") + row.file)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QString error;
        const std::map<QString, Group> groups = ParseKeyFile(file.readAll(), error);
        ASSERT_EQ(error, "");
        ASSERT_TRUE(groups.count(row.mainGroup));
        const Group &main = groups.at(row.mainGroup);
        for (const auto &[key, value] : row.main)
            EXPECT_EQ(main.count(key) ? main.at(key) : "(none)", value) << key.toStdString();
        EXPECT_EQ(List(main.count(row.mimeKey) ? main.at(row.mimeKey) : ""), FormatMimeTypes());

        std::vector<const Group *> actions;
        if (row.actionPrefix.isEmpty())
            actions.push_back(&main);
        else
            for (const QString &name : List(main.at("Actions"))) {
                ASSERT_TRUE(groups.count(row.actionPrefix + name)) << name.toStdString();
                actions.push_back(&groups.at(row.actionPrefix + name));
            }
        ASSERT_EQ(actions.size(), row.actionPrefix.isEmpty() ? 1u : 2u);
        // The service menu's actions come in set order: convert, then preset.
        for (std::size_t i = 0; i < actions.size(); ++i) {
            const Group &action = *actions[i];
            for (const char *key : {"Name", "Name[zh_CN]", "Exec"})
                EXPECT_FALSE(action.count(key) ? action.at(key).isEmpty() : true) << key;
            const std::optional<QStringList> exec =
                ExecArguments(action.count("Exec") ? action.at("Exec") : "");
            ASSERT_TRUE(exec) << action.at("Exec").toStdString();
            ASSERT_GE(exec->size(), 2);
            EXPECT_EQ(exec->front(), "velmora");
            EXPECT_EQ(exec->back(), "%F");
            EXPECT_EQ(exec->filter(QRegularExpression("%")).size(), 1);
            // What the program reads from the arguments the entry starts it with.
            const PresetRunRequest request = ParsePresetRunArguments(exec->mid(1, exec->size() - 2) + picked);
            EXPECT_EQ(request.mode, i == 0 ? row.mode : row.second);
            EXPECT_EQ(request.error, "");
            if (request.mode != PresetRunRequest::None) {
                EXPECT_EQ(request.files, picked);
            }
        }
    }
    // The reader refuses what a file manager would.
    for (const char *bad : {"Name=x\n", "[A]\nName\n", "[A]\nName=1\nName=2\n", "[A]\n[A]\n", "[A]\nN a=1\n",
                            "[A]\n\xff=1\n"}) {
        QString error;
        ParseKeyFile(bad, error);
        EXPECT_NE(error, "") << bad;
    }
    for (const char *bad : {"velmora %F;rm", "velmora $HOME", "velmora \"%F", "velmora a|b", "velmora 'x'"})
        EXPECT_FALSE(ExecArguments(bad)) << bad;
    EXPECT_EQ(ExecArguments("velmora \"a \\\"b\\\"\"  %F"), QStringList({"velmora", "a \"b\"", "%F"}));
}

TEST(FileManagerEntries, ArgumentsOfARunFromTheFileManager)
{
    using M = PresetRunRequest::Mode;
    const struct {
        QStringList args;
        M mode;
        QString preset;
        QStringList files;
        bool refused;
    } rows[] = {
        // Without --run, --preset or --choose-preset: the window's arguments, read as ever.
        {{}, M::None, "", {}, false},
        {{"a.png", "--bogus"}, M::None, "", {}, false},
        {{"--run", "--preset", "P", "a.png", "b.png"}, M::Run, "P", {"a.png", "b.png"}, false},
        {{"a.png", "--preset=P Q", "--run", "--", "-x.png", "--run"},
         M::Run,
         "P Q",
         {"a.png", "-x.png", "--run"},
         false},
        {{"--choose-preset", "file:///a.png"}, M::Choose, "", {"file:///a.png"}, false},
        {{"--run", "a.png"}, M::Run, "", {"a.png"}, true},
        {{"--preset", "P", "a.png"}, M::Run, "P", {"a.png"}, true},
        {{"--run", "--preset"}, M::Run, "", {}, true},
        {{"--run", "--preset=", "a.png"}, M::Run, "", {"a.png"}, true},
        {{"--run", "--preset", "P"}, M::Run, "P", {}, true},
        {{"--run", "--preset", "P", "--bogus", "a.png"}, M::Run, "P", {"a.png"}, true},
        {{"--run", "--choose-preset", "a.png"}, M::Choose, "", {"a.png"}, true},
        {{"--choose-preset", "--preset", "P", "a.png"}, M::Choose, "P", {"a.png"}, true},
        {{"--choose-preset"}, M::Choose, "", {}, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const PresetRunRequest got = ParsePresetRunArguments(row.args);
        EXPECT_EQ(got.mode, row.mode);
        EXPECT_EQ(!got.error.isEmpty(), row.refused) << got.error.toStdString();
        if (row.mode != M::None) {
            EXPECT_EQ(got.preset, row.preset);
            EXPECT_EQ(got.files, row.files);
        }
    }
}

TEST(FileManagerEntries, NautilusScriptsAreWrittenInPlaceOfLinksAndHandOverTheSelection)
{
    ScratchDir scratch;
    const QString root = QString::fromStdString(scratch.Root());
    EXPECT_EQ(NautilusScriptsFolder(), qEnvironmentVariable("XDG_DATA_HOME") + "/nautilus/scripts");
    const QString folder = root + "/share/nautilus/scripts";
    const QList<NautilusScript> scripts = NautilusScripts();
    ASSERT_EQ(scripts.size(), 2);
    // A link where a script goes is replaced, never written through.
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteFileBytes(scratch.Path("victim"), {'v'}));
    ASSERT_TRUE(QFile::link(root + "/victim", folder + "/" + scripts[0].name));
    QStringList written;
    QString why;
    ASSERT_TRUE(InstallNautilusScripts(folder, written, why)) << why.toStdString();
    EXPECT_EQ(written, QStringList({folder + "/" + scripts[0].name, folder + "/" + scripts[1].name}));
    EXPECT_EQ(ReadFileBytes(scratch.Path("victim")), std::vector<std::uint8_t>{'v'});
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
    // Nor is a link standing for the folder itself followed.
    ASSERT_TRUE(QDir().mkpath(root + "/elsewhere"));
    ASSERT_TRUE(QFile::link(root + "/elsewhere", root + "/linked"));
    EXPECT_FALSE(InstallNautilusScripts(root + "/linked", written, why));
    EXPECT_TRUE(QDir(root + "/elsewhere").isEmpty());

    // A velmora on the PATH that records its arguments, a line each.
    ASSERT_TRUE(QDir().mkpath(root + "/bin"));
    QFile fake(root + "/bin/velmora");
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done\n");
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QStringList selection = {"/p/a b.png", "/p/*.png", "/p/-c.jpg"};
    const QStringList leads[] = {{}, {"--choose-preset", "--"}};
    for (int i = 0; i < 2; ++i) {
        const QString path = folder + "/" + scripts[i].name;
        EXPECT_TRUE(QFileInfo(path).isExecutable());
        EXPECT_FALSE(QFileInfo(path).isSymLink());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", root + "/bin:" + env.value("PATH"));
        env.insert("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", selection.join('\n') + '\n');
        p.setProcessEnvironment(env);
        p.start(path, {});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                  leads[i] + selection);
    }
}
