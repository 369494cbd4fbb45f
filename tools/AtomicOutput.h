#ifndef KORVANE_ATOMICOUTPUT_H
#define KORVANE_ATOMICOUTPUT_H

#include <string>

namespace korvane::tools {

// A file written under a temporary name beside its final path and moved there only once complete,
// so that the final name never holds a partial file. The temporary file is removed when the object
// goes out of scope uncommitted, and also when the process is ended by SIGINT, SIGTERM or SIGHUP
// (those of them that were not ignored or handled otherwise when the first output was created).
class AtomicOutput {
  public:
    // Creates the (empty) temporary file; throws std::runtime_error when it cannot.
    explicit AtomicOutput(const std::string& aFinalPath);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    const std::string& temporaryPath() const { return mTemporaryPath; }

    // Moves the temporary file to the final path. Without aReplace an existing final file is kept
    // and std::runtime_error thrown; the check and the move are one atomic step.
    void commit(bool aReplace);

  private:
    // Stops a signal handler from removing the temporary file, if it is this object's.
    void forgetPending();

    std::string mFinalPath;
    std::string mTemporaryPath;
    bool mCommitted = false;
};

}  // namespace korvane::tools

#endif
