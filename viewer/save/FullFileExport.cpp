#include "FullFileExport.h"

#include <QThread>
#include <exception>

#include "DorudURIVuruda.h"
#include "OmeTiffConverter.h"

FullFileExport::FullFileExport(QObject* aParent) : QObject(aParent) {
    mPoll.setInterval(100);
    connect(&mPoll, &QTimer::timeout, this, [this] { emit progressed(mDone, mTotal); });
}

FullFileExport::~FullFileExport() {
    if (!mThread) return;
    mCancel = true;
    mThread->wait();
    delete mThread;
}

bool FullFileExport::start(const QByteArray& aInput, const std::string& aOutput, bool aReplace) {
    if (mThread) return false;
    mInput = aInput;
    mOutput = aOutput;
    mReplace = aReplace;
    mCancel = false;
    mDone = 0;
    mTotal = 0;
    mOutcome = Outcome::Failed;
    mMessage.clear();
    mThread = QThread::create([this] { run(); });
    connect(mThread, &QThread::finished, this, &FullFileExport::collect);
    mThread->start();
    mPoll.start();
    return true;
}

void FullFileExport::run() {
    try {
        DorudURIVuruda reader;
        const std::string input = mInput.toStdString();
        reader.open(input);
        korvane::tools::ConvertOptions options;
        options.replace = mReplace;
        options.progress = [this](int64_t aDone, int64_t aTotal) {
            mDone = aDone;
            mTotal = aTotal;
            return !mCancel;
        };
        const std::string::size_type slash = input.rfind('/');
        const std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
        const bool complete = korvane::tools::convertToOmeTiff(reader, name, mOutput, options);
        mOutcome = complete ? Outcome::Written : Outcome::Cancelled;
    } catch (const std::exception& e) {
        mOutcome = mCancel ? Outcome::Cancelled : Outcome::Failed;
        mMessage = e.what();
    } catch (...) {
        mOutcome = Outcome::Failed;
        mMessage = "unknown error";
    }
}

void FullFileExport::collect() {
    mPoll.stop();
    mThread->wait();
    delete mThread;
    mThread = nullptr;
    emit progressed(mDone, mTotal);
    emit finished(mOutcome, QString::fromLocal8Bit(mMessage.c_str()));
}
