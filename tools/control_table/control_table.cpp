// Prints the server control's table as a grid of events and phases, from the table itself, so
// that docs/control-table.md says what the code does:
//   build/native/control_table > docs/control-table.md
// With --check FILE it prints nothing and fails when FILE is not what it would print (a test of
// the native build runs it on the committed grid).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "server/control_rules.h"

namespace {

using control::Event;
using control::Guard;
using control::Phase;

// The sources are stored in the users' code page; the grid is UTF-8 like every document.
std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string cell(Phase phase, Event event) {
  std::string out;
  for (const control::Row& row : control::table()) {
    if (!row.from.has(phase) || row.event != event) continue;
    if (!out.empty()) out += "<br>";
    if (row.guard != Guard::kAny) {
      out += control::name(row.guard);
      out += ' ';
    }
    out += utf8(u8"\u2192 ");
    out += control::name(row.to);
  }
  return out;
}

std::string grid() {
  std::string out =
      "<!-- Made by build/native/control_table from the table in "
      "server/control_rules.cpp: do not edit.\n"
      "     After a change of the table: build/native/control_table > docs/control-table.md -->\n"
      "# The server control's table\n"
      "\n"
      "A row for each event, a column for each phase the control may be in when it comes. A cell "
      "names the\nphase the event leads to, after the guard over the facts under which it does "
      "(`control::Guard` in\nserver/control_rules.h); several guards stand one under the other. An "
      "empty cell: the event changes\nnothing in that phase. What is done on the way is in the "
      "table's rows.\n"
      "\n";
  out += "| event |";
  for (std::size_t p = 0; p < control::kPhaseCount; ++p) {
    out += ' ';
    out += control::name(static_cast<Phase>(p));
    out += " |";
  }
  out += "\n|---|";
  for (std::size_t p = 0; p < control::kPhaseCount; ++p) out += "---|";
  out += '\n';
  for (std::size_t e = 0; e < control::kEventCount; ++e) {
    const auto event = static_cast<Event>(e);
    out += "| ";
    out += control::name(event);
    out += " |";
    for (std::size_t p = 0; p < control::kPhaseCount; ++p) {
      const std::string text = cell(static_cast<Phase>(p), event);
      out += text.empty() ? " |" : ' ' + text + " |";
    }
    out += '\n';
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string made = grid();
  if (argc == 3 && std::string_view(argv[1]) == "--check") {
    std::ifstream file(argv[2], std::ios::binary);
    const std::string committed{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
    if (committed == made) return 0;
    std::fprintf(stderr,
                 "%s is not the grid the control's table makes; after a change of the table run\n"
                 "  build/native/control_table > docs/control-table.md\n",
                 argv[2]);
    return 1;
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: control_table [--check FILE]\n");
    return 2;
  }
  std::fwrite(made.data(), 1, made.size(), stdout);
  return std::ferror(stdout) ? 1 : 0;
}
