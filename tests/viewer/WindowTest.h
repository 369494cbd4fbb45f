#ifndef KORVANE_TESTS_WINDOWTEST_H
#define KORVANE_TESTS_WINDOWTEST_H

#include <QLineEdit>
#include <QObject>
#include <QtTest>
#include <memory>

#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "TestFiles.h"
#include "ViewerShell.h"

// What most window tests start from: the window on screen, with the shell around it as the program
// has it, and a written stack opened the way a user opens one.
class WindowTest : public QObject {
  protected:
    std::unique_ptr<KorvaneViewerQt> mWindow;
    ViewerShell* mShell = nullptr;
    std::unique_ptr<korvane::testsupport::ScopedFile> mFile;
    korvane::testsupport::LsmSpec mSpec;

    bool showWindow(bool aWithShell = true) {
        mWindow = std::make_unique<KorvaneViewerQt>();
        mShell = aWithShell ? new ViewerShell(*mWindow) : nullptr;
        mWindow->show();
        return QTest::qWaitForWindowActive(mWindow.get());
    }
    // Writes aSpec and returns its name.
    QString writeStack(const korvane::testsupport::LsmSpec& aSpec) {
        mSpec = aSpec;
        mFile = std::make_unique<korvane::testsupport::ScopedFile>("window.lsm");
        korvane::testsupport::writeLsm(mFile->path(), aSpec);
        return QString::fromStdString(mFile->path());
    }
    // Writes aSpec and opens it: its name typed, then Return.
    void openStack(const korvane::testsupport::LsmSpec& aSpec) {
        mWindow->mLoadFileNameLineEdit->setText(writeStack(aSpec));
        QTest::keyClick(mWindow->mLoadFileNameLineEdit, Qt::Key_Return);
    }
};

#endif
