#include "Reporter.h"

#include <atomic>
#include <mutex>

ReporterMessageStream reporterMessages;
ReporterNoteStream reporterNotes;

namespace {
std::atomic<int> gMessageLevel{0};
std::atomic<int> gNoteLevel{0};

// Readers report from worker threads (a projection decodes on two); one broadcast at a time keeps the
// registry and the sinks consistent. Recursive, since a sink may report in turn; never destroyed, since
// reporters may still be removed while statics are destroyed at exit.
std::recursive_mutex& registryMutex() {
    static std::recursive_mutex* const theMutex = new std::recursive_mutex;
    return *theMutex;
}
}  // namespace

void ReporterImpl::hook(int32_t, int32_t) {}

Reporter::~Reporter() { removeReporter(-1); }

std::map<int, ReporterImpl*>& Reporter::registry() {
    // Constructed on first use so that reporters registered during static initialisation work;
    // reporters still registered at exit are deliberately not deleted.
    static std::map<int, ReporterImpl*> theRegistry;
    return theRegistry;
}

void Reporter::addReporter(ReporterImpl* aReporter) {
    if (!aReporter) return;
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    const int id = aReporter->getId();
    auto& reg = registry();
    auto it = reg.find(id);
    if (it != reg.end()) {
        if (it->second == aReporter) return;
        ReporterImpl* old = it->second;
        reg.erase(it);
        delete old;
    }
    reg[id] = aReporter;
}

void Reporter::removeReporter(int aId) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    auto& reg = registry();
    if (aId == -1) {
        while (!reg.empty()) {
            auto it = reg.begin();
            ReporterImpl* r = it->second;
            reg.erase(it);
            delete r;
        }
        return;
    }
    auto it = reg.find(aId);
    if (it == reg.end()) return;
    ReporterImpl* r = it->second;
    reg.erase(it);
    delete r;
}

ReporterImpl* Reporter::getReporter(int aId) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    auto& reg = registry();
    auto it = reg.find(aId);
    return it == reg.end() ? nullptr : it->second;
}

void Reporter::setVerbosity(int aLevel) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto& entry : registry()) entry.second->mVerbosity = aLevel;
}

void Reporter::message(int aLevel, const std::string& aText) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto& entry : registry()) entry.second->message(aLevel, aText);
}

void Reporter::note(int aLevel, const std::string& aText) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto& entry : registry()) entry.second->note(aLevel, aText);
}

void Reporter::progress(int aDone, int aTotal) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto& entry : registry()) entry.second->progress(aDone, aTotal);
}

void Reporter::progress(float aFrom, float aTo, float aSubTotal, float aSubDone, float aTotal) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto& entry : registry()) entry.second->progress(aFrom, aTo, aSubTotal, aSubDone, aTotal);
}

void Reporter::hook(int32_t aFirst, int32_t aSecond) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto& entry : registry())
        if (entry.second->mHookEnabled) entry.second->hook(aFirst, aSecond);
}

int Reporter::getMessageLevel() { return gMessageLevel; }
void Reporter::setMessageLevel(int aLevel) { gMessageLevel = aLevel; }
int Reporter::getNoteLevel() { return gNoteLevel; }
void Reporter::setNoteLevel(int aLevel) { gNoteLevel = aLevel; }
