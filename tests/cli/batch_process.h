// Running velmora-batch as a separate process, as a user would.
#pragma once

#include <QDir>
#include <QProcess>
#include <QStringList>

#include <string>

namespace testsupport {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// in: the working folder, also given as $PWD, as a shell does; vars: more
// of the environment ("NAME=value"), or a bare "NAME" to leave out.
inline Result RunBatch(const QStringList &args, const std::string &in = {}, const char *program = VELMORA_BATCH_EXE,
                const QStringList &vars = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());  // no terminal to ask
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &v : vars) {
        if (v.contains('='))
            env.insert(v.section('=', 0, 0), v.section('=', 1));
        else
            env.remove(v);
    }
    if (!in.empty()) {
        p.setWorkingDirectory(QString::fromStdString(in));
        env.insert("PWD", QString::fromStdString(in));
    }
    p.setProcessEnvironment(env);
    p.start(program, args);
    Result r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

// A folder's entries by name, hidden ones too.
inline QStringList Entries(const std::string &folder)
{
    return QDir(QString::fromStdString(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace testsupport
