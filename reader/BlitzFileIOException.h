#ifndef KORVANE_BLITZFILEIOEXCEPTION_H
#define KORVANE_BLITZFILEIOEXCEPTION_H

#include <exception>
#include <sstream>
#include <string>

// The one exception type of the reading core.
class BlitzFileIOException : public std::exception {
  public:
    explicit BlitzFileIOException(const std::string& aMessage) : mMessage(aMessage) {}
    ~BlitzFileIOException() noexcept override {}
    const char* what() const noexcept override { return mMessage.c_str(); }

  private:
    std::string mMessage;
};

// Throws a BlitzFileIOException whose text is the streamed message, a blank, the class name, a colon,
// the line of the raising statement and ".\n".
#define KORVANE_THROW(aClassName, aStreamedText)                                           \
    do {                                                                                   \
        std::ostringstream korvaneMessage_;                                                \
        korvaneMessage_ << aStreamedText << " " << aClassName << ":" << __LINE__ << ".\n"; \
        throw BlitzFileIOException(korvaneMessage_.str());                                 \
    } while (0)

#endif
