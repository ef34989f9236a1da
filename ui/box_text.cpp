#include "ui/box_text.hpp"

#include <algorithm>
#include <vector>

#include "engine/text.hpp"

namespace tavrin {

namespace {

constexpr std::string_view kLeftOut = "[\u2026]";
constexpr std::string_view kIsolateStart = "\u2068";
constexpr std::string_view kIsolateEnd = "\u2069";

// A piece of a line, at most as wide as the box allows.
struct Piece {
  std::string_view text;
  bool startsIsolated;  // inside an isolate that an earlier piece opened
  bool endsIsolated;
  bool atBlank;  // ends after a blank, where the box breaks the line itself
};

// Breaks one line into pieces, each at most `width` wide: where a piece
// may end last, after a blank, or before a backslash, which begins an escape
// of shownText or a folder of a Windows path; else between two characters.
void breakLine(std::string_view line, int width,
               const std::function<int(std::string_view character)>& widthOf, std::vector<Piece>& pieces) {
  struct Break {
    std::size_t at = 0;
    int usedBefore = 0;
    bool isolated = false;
    bool atBlank = false;
  };
  std::size_t start = 0;
  Break last;  // where the piece may end; none while it is `start`
  int used = 0;
  bool isolated = false;  // before `offset`
  bool startsIsolated = false;
  auto endPiece = [&](std::size_t end, bool endsIsolated, bool atBlank) {
    pieces.push_back({line.substr(start, end - start), startsIsolated, endsIsolated, atBlank});
    start = end;
    last = {end};
    startsIsolated = endsIsolated;
  };
  for (std::size_t offset = 0; offset < line.size();) {
    const std::string_view character = line.substr(offset, characterAt(line, offset, TextForm::Utf8).size);
    const int advance = widthOf(character);
    if (character == "\\" && offset > start) last = {offset, used, isolated, false};
    while (used + advance > width && offset > start) {
      if (last.at > start) {
        used -= last.usedBefore;
        endPiece(last.at, last.isolated, last.atBlank);
      } else {
        used = 0;
        endPiece(offset, isolated, false);
      }
    }
    used += advance;
    offset += character.size();
    if (character == kIsolateStart) isolated = true;
    if (character == kIsolateEnd) isolated = false;
    if (character == " ") last = {offset, used, isolated, true};
  }
  endPiece(line.size(), false, false);
}

// Ends a line of the box after `piece`. Each line of a box is a paragraph
// of its own, which an isolate does not outlast: it is closed at the end of
// a line and opened again on the next.
void endBoxLine(std::string& fitted, const Piece& piece) {
  if (piece.endsIsolated) fitted.append(kIsolateEnd);
  fitted.append("\n");
}

}  // namespace

std::string fitBoxText(std::string_view text, int width, int lines,
                       const std::function<int(std::string_view character)>& widthOf) {
  std::vector<Piece> pieces;
  for (std::size_t start = 0;;) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    const std::size_t next = end + 1;
    if (end > start && text[end - 1] == '\r') --end;
    breakLine(text.substr(start, end - start), width, widthOf, pieces);
    if (next > text.size()) break;
    start = next;
  }
  const std::size_t most = static_cast<std::size_t>(std::max(lines, 2));
  const std::size_t tail = pieces.size() > most ? (most - 1) / 2 : 0;
  const std::size_t head = pieces.size() - tail - (pieces.size() > most ? pieces.size() - most + 1 : 0);
  std::string fitted;
  bool lineStart = true;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i >= head && i < pieces.size() - tail) continue;
    const Piece& piece = pieces[i];
    if (lineStart && piece.startsIsolated) fitted.append(kIsolateStart);
    fitted.append(piece.text);
    lineStart = !piece.atBlank || i + 1 == head;
    if (i + 1 == pieces.size()) break;
    if (lineStart) endBoxLine(fitted, piece);
    if (i + 1 == head) fitted.append(kLeftOut).append("\n");
  }
  return fitted;
}

}  // namespace tavrin
