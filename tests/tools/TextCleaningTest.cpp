#include <gtest/gtest.h>

#include <QXmlStreamReader>
#include <string>

#include "TextCleaning.h"

using korvane::tools::textFromFile;
using korvane::tools::xmlText;

namespace {

// aCount replacement characters, U+FFFD.
std::string replaced(int aCount) {
    std::string text;
    for (int i = 0; i < aCount; ++i) text += "\xEF\xBF\xBD";
    return text;
}

// The attribute value and the content of <a b="aText">aText</a>, as an XML parser reads them.
std::string parsed(const std::string& aText, std::string& aError) {
    QXmlStreamReader reader(QByteArray::fromStdString("<a b=\"" + aText + "\">" + aText + "</a>"));
    reader.readNextStartElement();
    const std::string attribute = reader.attributes().value("b").toString().toStdString();
    const std::string content = reader.readElementText().toStdString();
    aError = reader.hasError() ? reader.errorString().toStdString() : attribute != content ? "differ" : "";
    return content;
}

}  // namespace

TEST(TextCleaning, HostileBytesBecomeTextThatXmlParsersAccept) {
    const struct {
        const char* what;
        std::string bytes, expected;
    } cases[] = {
        {"surrogate", "a\xED\xA0\x80z", "a" + replaced(3) + "z"},
        {"overlong forms", "\xC0\xAF\xE0\x80\xAF", replaced(5)},
        {"above U+10FFFF", "\xF4\x90\x80\x80", replaced(4)},
        {"noncharacters", "\xEF\xBF\xBE\xEF\xBF\xBF", replaced(2)},
        {"cut short", "ab\xF0\x9F\x98", "ab" + replaced(1)},
        {"stray bytes", "\x80x\xFF", replaced(1) + "x" + replaced(1)},
        {"controls", std::string("a\0\x01\x1F\x7F", 5), "a\x7F"},
        {"white space", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"markup", "<&amp;>\"'", "<&amp;>\"'"},
        {"valid", "\xC2\xB5m \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBD",
         "\xC2\xB5m \xE2\x82\xAC "
         "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBD"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(parsed(xmlText(c.bytes), error), c.expected) << c.what;
        EXPECT_EQ(error, "") << c.what;
        // Names from files are read as Latin-1 when they are not UTF-8; that too must give valid XML.
        parsed(xmlText(textFromFile(c.bytes)), error);
        EXPECT_EQ(error, "") << c.what << " from a file";
    }
}
