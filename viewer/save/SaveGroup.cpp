#include "SaveGroup.h"

#include <sys/stat.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>
#include <exception>

#include "BusyCursor.h"
#include "DorudURIVuruda.h"
#include "FileNames.h"
#include "KorvaneViewerQt.h"
#include "OmeXml.h"
#include "PictureFile.h"
#include "PlaneFile.h"
#include "StackSummary.h"

namespace {

bool endsWithAny(const QString& aName, std::initializer_list<const char*> aSuffixes) {
    for (const char* suffix : aSuffixes)
        if (aName.endsWith(QLatin1String(suffix), Qt::CaseInsensitive)) return true;
    return false;
}

bool isPngName(const QString& aName) { return endsWithAny(aName, {".png"}); }
bool isTiffName(const QString& aName) { return endsWithAny(aName, {".tif", ".tiff"}); }

// The last part of a path given as bytes.
std::string baseName(const QByteArray& aPath) {
    const qsizetype slash = aPath.lastIndexOf('/');
    return (slash < 0 ? aPath : aPath.mid(slash + 1)).toStdString();
}

}  // namespace

SaveGroup::SaveGroup(KorvaneViewerQt& aWindow) : QObject(&aWindow), mWindow(aWindow) {
    setObjectName("mSaveGroup");
    mProgress = new QProgressBar(&mWindow);
    mProgress->setObjectName("mSaveProgress");
    mProgress->setMaximumWidth(220);
    mProgress->setFormat(tr("%v / %m planes"));
    mCancel = new QToolButton(&mWindow);
    mCancel->setObjectName("mSaveCancel");
    mCancel->setText(tr("Cancel"));
    mCancel->setToolTip(tr("Stop writing the full file; nothing is left behind"));
    mWindow.statusbar->addPermanentWidget(mProgress);
    mWindow.statusbar->addPermanentWidget(mCancel);
    mProgress->hide();
    mCancel->hide();
    connect(mCancel, &QToolButton::clicked, &mExport, &FullFileExport::cancel);
    connect(&mExport, &FullFileExport::progressed, this, [this](qint64 aDone, qint64 aTotal) {
        if (aTotal <= 0) return;
        mProgress->setRange(0, int(std::min<qint64>(aTotal, INT_MAX)));
        mProgress->setValue(int(std::min<qint64>(aDone, INT_MAX)));
    });
    connect(&mExport, &FullFileExport::finished, this, &SaveGroup::fullFileFinished);
    mWindow.mSaveFileNameLineEdit->installEventFilter(this);
}

void SaveGroup::fail(const QString& aText) {
    QMessageBox box(QMessageBox::Critical, tr("Save Failed"), aText, QMessageBox::Close, &mWindow);
    box.exec();
}

QString SaveGroup::suggestedName() const {
    const QString typed = mWindow.mSaveFileNameLineEdit->text();
    if (!typed.isEmpty() || !mWindow.viewState().hasFile()) return typed;
    const QFileInfo input(readableFileName(mWindow.viewState().fileName()));
    const QString suffix = mWindow.mSaveAllRadioButton->isChecked() ? ".ome.tif" : ".png";
    return input.dir().filePath(input.completeBaseName() + suffix);
}

void SaveGroup::choose() {
    const bool full = mWindow.mSaveAllRadioButton->isChecked();
    const QString png = tr("PNG picture as shown (*.png)");
    const QString filter = full ? tr("OME-TIFF (*.ome.tif *.ome.tiff *.tif *.tiff)")
                                : png + ";;" + tr("OME-TIFF plane values (*.ome.tif *.tif *.tiff)");
    QString selected;
    // The replacement is confirmed when saving, where the file being viewed is refused too.
    QString name = QFileDialog::getSaveFileName(&mWindow, tr("Save Image File"), suggestedName(), filter,
                                                &selected, QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return;
    if (!isPngName(name) && !isTiffName(name)) name += selected == png ? ".png" : ".ome.tif";
    const QSignalBlocker blocker(mWindow.mSaveFileNameLineEdit);
    mWindow.mSaveFileNameLineEdit->setText(name);
    save(name);
}

void SaveGroup::saveTyped() {
    // Leaving the field finishes the edit too, but only Return saves.
    if (!mReturnPressed) return;
    mReturnPressed = false;
    save(mWindow.mSaveFileNameLineEdit->text());
}

bool SaveGroup::eventFilter(QObject* aWatched, QEvent* aEvent) {
    if (aWatched == mWindow.mSaveFileNameLineEdit && aEvent->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(aEvent)->key();
        mReturnPressed = key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    return false;
}

bool SaveGroup::kindOf(const QString& aName, Kind& aKind) {
    if (mWindow.mSaveAllRadioButton->isChecked()) {
        if (!isTiffName(aName)) {
            fail(
                tr("A full file is written as OME-TIFF: give it a name that ends in .ome.tif, .tif or "
                   ".tiff."));
            return false;
        }
        aKind = Kind::FullFile;
    } else if (isPngName(aName)) {
        aKind = Kind::Picture;
    } else if (isTiffName(aName)) {
        aKind = Kind::PlaneValues;
    } else {
        fail(
            tr("The current plane is written as the picture shown (a name that ends in .png) or with its "
               "values (.tif or .tiff)."));
        return false;
    }
    return true;
}

bool SaveGroup::mayWrite(const std::string& aPath, const QString& aName, bool& aReplace) {
    aReplace = false;
    struct stat output;
    if (::stat(aPath.c_str(), &output) != 0) return true;  // a new file
    if (S_ISDIR(output.st_mode)) {
        fail(tr("'%1' is a folder.").arg(aName));
        return false;
    }
    struct stat input;
    const QByteArray viewed = mWindow.viewState().fileName();
    if (!viewed.isEmpty() && ::stat(viewed.constData(), &input) == 0 && input.st_dev == output.st_dev &&
        input.st_ino == output.st_ino) {
        fail(tr("'%1' is the file being viewed; choose another name.").arg(aName));
        return false;
    }
    const QMessageBox::StandardButton answer =
        QMessageBox::question(&mWindow, tr("Replace File"), tr("'%1' already exists. Replace it?").arg(aName),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    aReplace = answer == QMessageBox::Yes;
    return aReplace;
}

void SaveGroup::save(const QString& aName) {
    if (aName.trimmed().isEmpty()) return;
    Kind kind;
    if (!kindOf(aName, kind)) return;
    const ViewState& state = mWindow.viewState();
    DorudURIVuruda* reader = mWindow.reader();
    if (!state.hasFile() || !reader || !reader->isOpen() ||
        (kind != Kind::FullFile && (!state.hasShown() || mWindow.picture().isNull()))) {
        fail(tr("There is nothing to save: open a file first."));
        return;
    }
    if (kind == Kind::FullFile && mExport.isRunning()) {
        fail(tr("'%1' is still being written; wait for it or cancel it first.").arg(mWriting));
        return;
    }
    const std::string path = fileNameBytes(aName).toStdString();
    bool replace = false;
    if (!mayWrite(path, aName, replace)) return;
    if (kind == Kind::FullFile) {
        mWriting = aName;
        mExport.start(state.fileName(), path, replace);
        mProgress->setRange(0, 0);  // busy until the first plane is written
        mProgress->show();
        mCancel->show();
        mWindow.statusbar->showMessage(tr("Writing %1 ...").arg(aName));
        return;
    }
    try {
        BusyCursor busy;
        if (kind == Kind::Picture) {
            writePng(pictureAsShown(state, mWindow.picture()), path, replace);
        } else {
            PlaneSource& source = mWindow.planeSource();
            const korvane::tools::StackSummary file = korvane::tools::summarize(*reader);
            const PlaneIndex& shown = source.request().index;
            writePlaneOmeTiff(source.plane(), source.request(), file,
                              korvane::tools::imageMetadata(*reader, file, baseName(state.fileName()),
                                                            {shown.channel}, {shown.timepoint}),
                              path, replace);
        }
    } catch (const std::exception& e) {
        fail(tr("Could not write '%1':\n%2").arg(aName, QString::fromLocal8Bit(e.what())));
        return;
    }
    mWindow.statusbar->showMessage(tr("Saved %1").arg(aName), 5000);
}

void SaveGroup::fullFileFinished(FullFileExport::Outcome aOutcome, const QString& aMessage) {
    mProgress->hide();
    mCancel->hide();
    mWindow.statusbar->clearMessage();
    switch (aOutcome) {
        case FullFileExport::Outcome::Written:
            mWindow.statusbar->showMessage(tr("Saved %1").arg(mWriting), 5000);
            break;
        case FullFileExport::Outcome::Cancelled:
            mWindow.statusbar->showMessage(tr("Cancelled; %1 was not written").arg(mWriting), 5000);
            break;
        case FullFileExport::Outcome::Failed:
            fail(tr("Could not write '%1':\n%2").arg(mWriting, aMessage));
            break;
    }
}
