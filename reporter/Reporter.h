#ifndef KORVANE_REPORTER_H
#define KORVANE_REPORTER_H

#include <cstdint>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>

class Reporter;

// Abstract message sink. Registered reporters are owned by the Reporter registry.
class ReporterImpl {
  public:
    ReporterImpl() = default;
    // A copy would be a reporter the registry does not know, or one it deletes twice.
    ReporterImpl(const ReporterImpl&) = delete;
    ReporterImpl& operator=(const ReporterImpl&) = delete;
    virtual ~ReporterImpl() {}
    virtual int getId() = 0;
    virtual void progress(int aDone, int aTotal) = 0;
    virtual void progress(float aFrom, float aTo, float aSubTotal, float aSubDone, float aTotal) = 0;
    virtual void message(int aLevel, const std::string& aText) = 0;
    virtual void note(int aLevel, const std::string& aText) = 0;
    virtual void hook(int32_t aFirst, int32_t aSecond);

    int getVerbosity() const { return mVerbosity; }
    bool isHookEnabled() const { return mHookEnabled; }

  protected:
    friend class Reporter;
    bool mHookEnabled = false;
    int mVerbosity = 0;
};

// Class-wide registry of reporters keyed by id; broadcasts visit them in ascending id order.
class Reporter {
  public:
    Reporter() = default;
    // Destroying a Reporter deletes every registered reporter; copies would only repeat that.
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;
    virtual ~Reporter();

    static void addReporter(ReporterImpl* aReporter);
    static void removeReporter(int aId);
    static ReporterImpl* getReporter(int aId);
    static void setVerbosity(int aLevel);

    static void message(int aLevel, const std::string& aText);
    static void note(int aLevel, const std::string& aText);
    static void progress(int aDone, int aTotal);
    static void progress(float aFrom, float aTo, float aSubTotal, float aSubDone, float aTotal);
    static void hook(int32_t aFirst, int32_t aSecond);

    static int getMessageLevel();
    static void setMessageLevel(int aLevel);
    static int getNoteLevel();
    static void setNoteLevel(int aLevel);

  private:
    static std::map<int, ReporterImpl*>& registry();
};

// Inserting a ReporterLevel into a reporter stream sets that stream's current level.
struct ReporterLevel {
    explicit ReporterLevel(int aLevel) : mLevel(aLevel) {}
    int mLevel;
};

// Stream-like front end: every insertion is one broadcast of its own, nothing is buffered.
template <bool IsNote>
class ReporterStream {
  public:
    ReporterStream& operator<<(const ReporterLevel& aLevel) {
        if (IsNote)
            Reporter::setNoteLevel(aLevel.mLevel);
        else
            Reporter::setMessageLevel(aLevel.mLevel);
        return *this;
    }
    ReporterStream& operator<<(const char* aText) {
        if (aText) send(std::string(aText));
        return *this;
    }
    ReporterStream& operator<<(const std::string& aText) {
        send(aText);
        return *this;
    }
    ReporterStream& operator<<(std::ostream& (*aManipulator)(std::ostream&)) {
        std::ostringstream text;
        aManipulator(text);
        send(text.str());
        return *this;
    }
    template <typename T, typename = std::enable_if_t<!std::is_convertible<const T&, const char*>::value &&
                                                      !std::is_convertible<const T&, std::string>::value>>
    ReporterStream& operator<<(const T& aValue) {
        std::ostringstream text;
        text << aValue;
        send(text.str());
        return *this;
    }

  private:
    static void send(const std::string& aText) {
        if (IsNote)
            Reporter::note(Reporter::getNoteLevel(), aText);
        else
            Reporter::message(Reporter::getMessageLevel(), aText);
    }
};

using ReporterMessageStream = ReporterStream<false>;
using ReporterNoteStream = ReporterStream<true>;

extern ReporterMessageStream reporterMessages;
extern ReporterNoteStream reporterNotes;

#endif
