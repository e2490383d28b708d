// naxctl marks: download the node's attendance marks.
#include <vector>

#include "commands.h"

namespace naxctl {

namespace {

constexpr uint32_t kNoFurtherMarks = 8;
constexpr uint32_t kNoMarksAtAll = 21;  // protocol 1: not even a first mark
constexpr size_t kMaxP1Calls = 1000000;

struct MarkArgs {
  std::string format;
  uint16_t page = 16;
  std::string out;
};

std::vector<nax_mark> list_marks(Session& s, uint16_t page) {
  std::vector<nax_mark> out;
  Progress progress("marks", 0);
  if (s.protocol() == 1) {
    // First index 0 starts from the oldest mark; any other asks for the next one.
    nax_mark mark{};
    for (size_t call = 0; call < kMaxP1Calls; ++call) {
      uint16_t stored = 0;
      const uint32_t st = nax_list_marks(s.link(), s.node(), call == 0 ? 0 : 1, 1, &mark, &stored);
      if (st == kNoFurtherMarks || st == kNoMarksAtAll) break;
      if (st != NAX_OK) {
        throw NaxError("nax_list_marks", st, "after " + std::to_string(out.size()) + " marks");
      }
      if (stored == 1) out.push_back(mark);
      progress.update(out.size());
    }
    return out;
  }
  std::vector<nax_mark> buffer(page);
  for (uint32_t index = 0; index <= 0xFFFF;) {
    uint16_t stored = 0;
    const uint32_t st = nax_list_marks(s.link(), s.node(), index, page, buffer.data(), &stored);
    if (st != NAX_OK && st != kNoFurtherMarks) {
      throw NaxError("nax_list_marks", st, "after " + std::to_string(out.size()) + " marks");
    }
    out.insert(out.end(), buffer.begin(), buffer.begin() + stored);
    progress.update(out.size());
    if (st == kNoFurtherMarks || stored == 0) break;
    index += stored;
  }
  return out;
}

}  // namespace

void add_mark_commands(CLI::App& parent, Cli& cli) {
  auto args = std::make_shared<MarkArgs>();
  auto* marks = parent.add_subcommand("marks", "Download every attendance mark the node holds");
  add_format_option(marks, args->format);
  add_number(marks, "--page", args->page, "Marks asked for in one request (protocol 2)")
      ->check(CLI::Range(1, 512));
  marks->add_option("--out", args->out, "File to write (default: standard output)");
  on_run(marks, cli, [args](Session& s) {
    const auto all = list_marks(s, args->page);
    const ListFormat format = list_format(args->format, s.json());
    std::string text;
    if (format == ListFormat::Json) {
      Json j = Json::array();
      for (const auto& m : all) j.push(mark_to_json(m));
      text = j.dump(2) + "\n";
    } else if (format == ListFormat::Csv) {
      text = marks_to_csv(all);
    } else {
      text = marks_table(all) + count_of(all.size(), "mark") + "\n";
    }
    write_file(args->out.empty() ? "-" : args->out, text);
  });
}

}  // namespace naxctl
