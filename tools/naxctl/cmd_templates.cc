// naxctl template: biometric templates on the node.
#include <vector>

#include "commands.h"

namespace naxctl {

namespace {

constexpr size_t kTemplateSize = 384;

struct TemplateArgs {
  uint16_t sensor = 0;
  uint32_t access = 0;
  uint8_t id = 0;
  std::string file;
  std::string data;  // template write: the file, read before the link is opened
};

void add_address(CLI::App* sub, const std::shared_ptr<TemplateArgs>& a) {
  add_number(sub, "sensor", a->sensor, "Sensor number")->required();
  add_number(sub, "access", a->access, "Access id the template is filed under")->required();
  add_number(sub, "id", a->id, "Template number within the access id")->required();
}

Json address_json(const TemplateArgs& a) {
  Json j = Json::object();
  j.add("sensor", Json::number(a.sensor)).add("access", Json::number(a.access));
  j.add("id", Json::number(a.id));
  return j;
}

std::string address_text(const TemplateArgs& a) {
  return "template " + std::to_string(a.sensor) + "/" + std::to_string(a.access) + "/" +
         std::to_string(a.id);
}

}  // namespace

void add_template_commands(CLI::App& parent, Cli& cli) {
  auto* tpl = parent.add_subcommand("template", "Biometric templates (SENSOR ACCESS ID)");
  tpl->require_subcommand(1);

  auto read_args = std::make_shared<TemplateArgs>();
  auto* read = tpl->add_subcommand("read", "Read one template (384 bytes)");
  add_address(read, read_args);
  read->add_option("--out", read_args->file, "File for the raw bytes (default: hex on stdout)");
  on_run(read, cli, [a = read_args](Session& s) {
    std::vector<uint8_t> data(kTemplateSize);
    check(nax_read_template(s.link(), s.node(), a->sensor, a->access, a->id, data.data(),
                            static_cast<uint32_t>(data.size())),
          "nax_read_template");
    Json j = address_json(*a);
    j.add("size", Json::number(static_cast<uint64_t>(data.size())));
    if (!a->file.empty()) {
      write_file(a->file, std::string(data.begin(), data.end()));
      j.add("file", Json::string(a->file));
      emit(s.json(),
           address_text(*a) + ": " + std::to_string(data.size()) + " bytes written to " + a->file +
               "\n",
           j);
      return;
    }
    const std::string hex = hex_bytes(data.data(), data.size());
    j.add("data", Json::string(hex));
    std::string text;
    for (size_t i = 0; i < hex.size(); i += 64) text += hex.substr(i, 64) + "\n";
    emit(s.json(), text, j);
  });

  auto write_args = std::make_shared<TemplateArgs>();
  auto* write = tpl->add_subcommand("write", "Write one template from a file (protocol 2)");
  add_address(write, write_args);
  write->add_option("file", write_args->file, "Raw template bytes, at most 384 (- = stdin)")
      ->required();
  on_run(
      write, cli,
      [a = write_args](Session& s) {
        const std::string& data = a->data;
        check(nax_write_template(s.link(), s.node(), a->sensor, a->access, a->id,
                                 reinterpret_cast<const uint8_t*>(data.data()),
                                 static_cast<uint32_t>(data.size())),
              "nax_write_template");
        Json j = address_json(*a);
        j.add("size", Json::number(static_cast<uint64_t>(data.size())));
        emit(s.json(), address_text(*a) + ": " + std::to_string(data.size()) + " bytes written\n",
             j);
      },
      [a = write_args] {
        a->data = read_file(a->file);
        if (a->data.size() > kTemplateSize) {
          throw InputError(a->file + ": " + std::to_string(a->data.size()) +
                           " bytes; a template holds at most 384");
        }
      });

  auto del_args = std::make_shared<TemplateArgs>();
  auto* del = tpl->add_subcommand("delete", "Delete one template (protocol 2)");
  add_address(del, del_args);
  on_run(del, cli, [a = del_args](Session& s) {
    check(nax_del_template(s.link(), s.node(), a->sensor, a->access, a->id), "nax_del_template");
    emit(s.json(), address_text(*a) + " deleted\n", address_json(*a));
  });

  auto flush_args = std::make_shared<TemplateArgs>();
  auto* flush = tpl->add_subcommand("flush", "Flush every template of one sensor (protocol 2)");
  add_number(flush, "sensor", flush_args->sensor, "Sensor number")->required();
  on_run(flush, cli, [a = flush_args](Session& s) {
    check(nax_flush_templates(s.link(), s.node(), a->sensor), "nax_flush_templates");
    Json j = Json::object();
    j.add("sensor", Json::number(a->sensor)).add("flushed", Json::boolean(true));
    emit(s.json(), "templates of sensor " + std::to_string(a->sensor) + " flushed\n", j);
  });
}

}  // namespace naxctl
