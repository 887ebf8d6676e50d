#pragma once
// Text that came from another machine (names, help topics, notes, message texts,
// password labels, file names) as this program shows it. Every prompt, menu, card,
// view, notification and window title that shows such text passes it through
// shownText first, and every label that shows it is set to plain text. What is stored
// stays as it was received: the cleaning happens where the text is shown.
//
// shownText
// - decodes UTF-8, a malformed sequence counting as U+FFFD;
// - drops control characters (C0, DEL, C1) and the bidirectional marks, embeddings,
//   overrides and isolates (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to
//   U+2069), which could turn what follows around or hide it;
// - makes line breaks (LF, CR, CR LF, VT, FF, NEL, U+2028, U+2029) and tabs one space,
//   runs of spaces one space, or with LineBreaks::keep keeps each line break as "\n"
//   (at most one empty line in a row);
// - trims white space at both ends;
// - and cuts it to at most maxChars characters (code points), the last of them "…"
//   when it was cut, never inside a character.
// Markup stays what it is: "<b>" is shown as the three characters.

#include <cstddef>
#include <string>
#include <string_view>

namespace wl {

// Lengths in characters: a name (a person's, a Mac's), a help request's topic or a
// password's label, a line of text in a menu, a note or message shown in full.
inline constexpr std::size_t kShownNameLength = 64;
inline constexpr std::size_t kShownTopicLength = 120;
inline constexpr std::size_t kShownLineLength = 200;
inline constexpr std::size_t kShownNoteLength = 2000;

enum class LineBreaks { join, keep };

std::string shownText(std::string_view utf8, std::size_t maxChars, LineBreaks lineBreaks = LineBreaks::join);

// A name from another machine: one line of at most kShownNameLength characters.
inline std::string shownName(std::string_view utf8)
{
    return shownText(utf8, kShownNameLength);
}

} // namespace wl
