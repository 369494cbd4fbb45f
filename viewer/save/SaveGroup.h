#ifndef KORVANE_SAVEGROUP_H
#define KORVANE_SAVEGROUP_H

#include <QObject>
#include <QString>
#include <string>

#include "FullFileExport.h"

class KorvaneViewerQt;
class QProgressBar;
class QToolButton;

// What the window's Save Image File group does. "Current Plane" writes the view as shown to a .png name
// and the plane's values (or the projection's) to a .tif or .tiff name as a one-plane OME-TIFF; "Full
// File (convert)" writes the whole stack as OME-TIFF in the background, with its progress and a Cancel
// button in the status bar. An existing file is replaced only after the user agrees, the file being
// viewed never, and every write goes to a temporary file renamed when complete, so that a failure, shown
// in a message, leaves nothing behind.
class SaveGroup : public QObject {
    Q_OBJECT

  public:
    explicit SaveGroup(KorvaneViewerQt& aWindow);

    // "Choose": a save dialog, then saving under the chosen name.
    void choose();
    // Saving under the name in the field, when the user pressed Return there (leaving the field does not
    // save).
    void saveTyped();
    // Saving under aName as the radio buttons say.
    void save(const QString& aName);

    FullFileExport& fullFileExport() { return mExport; }

  protected:
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override;

  private:
    enum class Kind { Picture, PlaneValues, FullFile };

    // The kind of file the name and the radio buttons ask for; a message and false when they do not fit.
    bool kindOf(const QString& aName, Kind& aKind);
    // Whether aPath may be written: not the file being viewed, and replaced only when the user agrees.
    bool mayWrite(const std::string& aPath, const QString& aName, bool& aReplace);
    void startFullFile(const std::string& aPath, bool aReplace);
    void fullFileFinished(FullFileExport::Outcome aOutcome, const QString& aMessage);
    // The name the dialog starts with: the field's, or the open file's with the chosen kind's suffix.
    QString suggestedName() const;
    void fail(const QString& aText);

    KorvaneViewerQt& mWindow;
    FullFileExport mExport;
    QProgressBar* mProgress;
    QToolButton* mCancel;
    QString mWriting;             // the name being converted to
    bool mReturnPressed = false;  // the edit of the name field ends with Return
};

#endif
