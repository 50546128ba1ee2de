#include "toolkit.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace vellork {

QString programTitle() {
    return QStringLiteral("Vellork");
}

Dialogs::Answer QtDialogs::message(QWidget* parent, MessageIcon icon, const QString& text,
                                   bool yesNo) {
    QMessageBox box(parent);
    box.setWindowTitle(programTitle());
    box.setText(text);
    switch (icon) {
        case MessageIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    box.setStandardButtons(yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    const int pressed = box.exec();
    if (!yesNo) return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::openFiles(QWidget* parent, const QString& title, const QStringList& filters) {
    const QStringList chosen =
        QFileDialog::getOpenFileNames(parent, title, QString(), filters.join(QStringLiteral(";;")));
    if (chosen.isEmpty()) return {};
    if (chosen.size() == 1) return QDir::toNativeSeparators(chosen.first());
    // Several files come from one folder: the folder first, then the names.
    QString answer = QDir::toNativeSeparators(QFileInfo(chosen.first()).absolutePath());
    answer += QChar(0);
    for (const QString& path : chosen) answer += QFileInfo(path).fileName() + QChar(0);
    return answer;
}

void QtShell::open(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace vellork
