// Text from other machines as the program shows it: one line (or kept lines), no
// controls or direction overrides, markup as written, and cut at a character.
#include "platform/ShownText.h"

#include <QList>
#include <QString>

#include <gtest/gtest.h>

using namespace wl;

namespace {

// Whether text is well-formed UTF-8 that reads back the same through UTF-16.
bool wellFormed(const std::string& text)
{
    const QString wide = QString::fromStdString(text);
    for (qsizetype i = 0; i < wide.size(); ++i) {
        if (wide.at(i) == QChar::ReplacementCharacter)
            return false;
        if (wide.at(i).isHighSurrogate() && (i + 1 == wide.size() || !wide.at(i + 1).isLowSurrogate()))
            return false;
        if (wide.at(i).isLowSurrogate() && (i == 0 || !wide.at(i - 1).isHighSurrogate()))
            return false;
    }
    return wide.toStdString() == text;
}

std::size_t characters(const std::string& text)
{
    return static_cast<std::size_t>(QString::fromStdString(text).toUcs4().size());
}

} // namespace

TEST(ShownText, NamesAreOneCleanLineCutAtACharacterWithMarkupKeptAsWritten)
{
    // Markup and entities stay literal; surrounding and repeated white space goes.
    EXPECT_EQ(shownName("  <b>Ada</b> &amp; Co  "), "<b>Ada</b> &amp; Co");
    // Line breaks of every kind and tabs become one space; other controls go.
    EXPECT_EQ(shownName("Ada\r\nLove\nlace\tthe\u2028first\x0b\x0c\u0085one"), "Ada Love lace the first one");
    EXPECT_EQ(shownName(std::string("A\x01\x1b[31md\x7f\u0080\u009fa") + '\0' + "!"), "A[31mda!");
    // Every direction override, embedding, isolate and mark goes.
    EXPECT_EQ(shownName("\u202Egnp.exe\u202C \u202A\u202B\u202D\u2066\u2067\u2068\u2069\u200E\u200F\u061CAda"),
              "gnp.exe Ada");
    // Malformed bytes show as the replacement character, never as broken text.
    EXPECT_EQ(shownName("Ad\xff"
                        "a\xe2\x82"),
              "Ad\uFFFDa\uFFFD\uFFFD");
    EXPECT_EQ(shownName("\xed\xa0\x80"), "\uFFFD\uFFFD\uFFFD"); // an encoded surrogate
    EXPECT_EQ(shownName(" \n\u202E\t"), "");

    // 60 KB of name with line breaks and an override: one line of 64 characters, the
    // last of them the ellipsis.
    std::string huge = "\u202EMallory";
    while (huge.size() < 60 * 1024)
        huge += "\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
    const std::string name = shownName(huge);
    EXPECT_EQ(characters(name), kShownNameLength);
    EXPECT_EQ(name.rfind("Mallory AAAA", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 3), "\u2026");
    EXPECT_EQ(name.find('\n'), std::string::npos);
    EXPECT_TRUE(wellFormed(name));
    // What fits exactly is not cut.
    EXPECT_EQ(shownName(std::string(64, 'x')), std::string(64, 'x'));
    EXPECT_EQ(shownName(std::string(65, 'x')), std::string(63, 'x') + "\u2026");

    // Cutting lands between characters of every length, also four-byte ones (a
    // surrogate pair in UTF-16), whatever the offset.
    for (const std::string& wide : {std::string("\u00e9"), std::string("\u20ac"), std::string("\U0001F600")}) {
        for (std::size_t offset = 0; offset < 4; ++offset) {
            std::string text(offset, 'a');
            for (int i = 0; i < 100; ++i)
                text += wide;
            const std::string cut = shownText(text, 10);
            EXPECT_TRUE(wellFormed(cut)) << offset;
            EXPECT_EQ(characters(cut), 10u);
        }
    }
}

TEST(ShownText, NotesKeepTheirLinesButNoControlsOrOverrides)
{
    EXPECT_EQ(
        shownText("Printer\r\n\u202Eis\u202C  stuck\n\n\n\n<i>again</i>\x07\n", kShownNoteLength, LineBreaks::keep),
        "Printer\nis stuck\n\n<i>again</i>");
    const std::string longNote(5000, 'n');
    const std::string note = shownText(longNote, kShownNoteLength, LineBreaks::keep);
    EXPECT_EQ(characters(note), kShownNoteLength);
    EXPECT_EQ(note.substr(note.size() - 3), "\u2026");
}
