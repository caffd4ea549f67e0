#include "rundialogs/undorun.h"

#include "convert/runjournal.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

namespace {

// A long report is cut: the message box must fit on the screen.
QString ReportText(const UndoReport &report)
{
    constexpr std::size_t kShownLines = 20;
    const std::vector<std::string> lines = UndoLines(report);
    QString text;
    for (std::size_t i = 0; i < lines.size() && i < kShownLines; ++i)
        text += "\n" + QString::fromStdString(lines[i]);
    if (lines.size() > kShownLines)
        text += "\n" + QCoreApplication::translate("UndoRun", "另有 %1 项。").arg(lines.size() - kShownLines);
    return text;
}

} // namespace

bool ConfirmAndUndoRun(QWidget *parent, const std::string &journal)
{
    const QString title = QStringLiteral("Velmora");
    if (journal.empty()) {
        QMessageBox::information(parent, title,
                                 QCoreApplication::translate("UndoRun", "没有可以撤销的运行。"));
        return false;
    }
    const QMessageBox::StandardButton answer = QMessageBox::question(
        parent, title,
        QCoreApplication::translate("UndoRun",
                                    "撤销上次运行将删除它写出的文件, 并从回收站恢复被它替换的文件。\n"
                                    "运行后被更改的文件会保留。要继续吗?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const UndoReport report = UndoRun(journal);
    QApplication::restoreOverrideCursor();
    const bool complete = report.Complete();
    // A run whose outputs are all gone already is not called undone.
    const QString heading = !report.refusedJournal.empty() ? QCoreApplication::translate("UndoRun", "无法撤销上次运行:")
                            : !complete ? QCoreApplication::translate("UndoRun", "已撤销上次运行, 但有些文件未能复原:")
                            : report.DidSomething() ? QCoreApplication::translate("UndoRun", "已撤销上次运行。")
                                                    : QCoreApplication::translate("UndoRun", "没有需要撤销的内容。");
    QMessageBox::information(parent, title, heading + "\n" + ReportText(report));
    return complete;
}
