#pragma once

#include "batch.h"

#include <QString>

class QWidget;

namespace vellork {

// The modal things a test cannot click through, and the call to the system shell. The program
// uses the Qt versions below; tests script the answers.
class Dialogs {
public:
    enum class Answer { Ok, Yes, No };
    virtual ~Dialogs() = default;

    // A modal message titled "Vellork": an OK button, or Yes and No when `yesNo` is set.
    virtual Answer message(QWidget* parent, MessageIcon icon, const QString& text,
                           bool yesNo = false) = 0;

    // The file-open dialog, several files at once: every chosen file's whole path, in the
    // dialog's order, whatever folders they come from; empty when cancelled.
    virtual QStringList openFiles(QWidget* parent, const QString& title,
                                  const QStringList& filters) = 0;
};

class Shell {
public:
    virtual ~Shell() = default;
    // Opens the file in the system's default application for it, without waiting.
    virtual void open(const QString& path) = 0;
};

class QtDialogs : public Dialogs {
public:
    Answer message(QWidget* parent, MessageIcon icon, const QString& text, bool yesNo) override;
    QStringList openFiles(QWidget* parent, const QString& title,
                          const QStringList& filters) override;
};

class QtShell : public Shell {
public:
    void open(const QString& path) override;
};

// The title of every window and message of the program.
QString programTitle();

}  // namespace vellork
