#ifndef KORVANE_REPORTERCMDLINE_H
#define KORVANE_REPORTERCMDLINE_H

#include <ostream>
#include <string>

#include "Reporter.h"

// Console reporter. Registers itself on construction; every instance has id 1, so a new one
// replaces (and deletes) the previous one.
class ReporterCmdline : public ReporterImpl {
  public:
    ReporterCmdline(int aVerbosity, std::ostream* aStream);

    int getId() override;
    void progress(int aDone, int aTotal) override;
    void progress(float aFrom, float aTo, float aSubTotal, float aSubDone, float aTotal) override;
    void message(int aLevel, const std::string& aText) override;
    void note(int aLevel, const std::string& aText) override;

  private:
    void writePercent(double aPercent);

    std::ostream* mStream;
};

#endif
