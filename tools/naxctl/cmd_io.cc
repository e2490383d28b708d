// naxctl param, aux and relay: numeric parameters, auxiliary inputs and relays.
#include <cstdio>
#include <map>

#include "commands.h"

namespace naxctl {

namespace {

struct ParamArgs {
  uint32_t size = 2;
  uint16_t id = 0;
  int64_t value = 0;
};

struct AuxArgs {
  uint16_t id = 0;
  std::map<std::string, std::string> fields;  // flag name -> value given
  bool no_read = false;
};

struct RelayArgs {
  uint8_t id = 0;
  uint8_t mode = 0;
};

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

void add_param_commands(CLI::App& parent, Cli& cli) {
  auto* param = parent.add_subcommand("param", "Read or write a numeric parameter");
  param->require_subcommand(1);

  auto get_args = std::make_shared<ParamArgs>();
  auto* get = param->add_subcommand("get", "Read parameter ID, SIZE bytes wide (1 or 2)");
  get->add_option("size", get_args->size, "Width in bytes")
      ->required()
      ->check(CLI::IsMember({1, 2}));
  add_number(get, "id", get_args->id, "Parameter number")->required();
  on_run(get, cli, [a = get_args](Session& s) {
    uint32_t value = 0;
    check(nax_get_num_cfg(s.link(), s.node(), a->size, a->id, &value), "nax_get_num_cfg");
    Json j = Json::object();
    j.add("id", Json::number(a->id))
        .add("size", Json::number(a->size))
        .add("value", Json::number(value));
    emit(s.json(),
         "param " + std::to_string(a->id) + " = " + std::to_string(value) + " (" + hex32(value) +
             ")\n",
         j);
  });

  auto set_args = std::make_shared<ParamArgs>();
  auto* set = param->add_subcommand("set", "Write VALUE to parameter ID, SIZE bytes wide");
  set->add_option("size", set_args->size, "Width in bytes")
      ->required()
      ->check(CLI::IsMember({1, 2, 4}));
  add_number(set, "id", set_args->id, "Parameter number")->required();
  set->add_option("value", set_args->value, "Value (negative, decimal or 0x hexadecimal)")
      ->required()
      ->transform(number_in(INT32_MIN, UINT32_MAX));
  on_run(set, cli, [a = set_args](Session& s) {
    const auto value = static_cast<int32_t>(static_cast<uint32_t>(a->value));
    check(nax_set_num_cfg(s.link(), s.node(), a->size, a->id, value), "nax_set_num_cfg");
    Json j = Json::object();
    j.add("id", Json::number(a->id)).add("size", Json::number(a->size));
    j.add("value", Json::number(a->value)).add("set", Json::boolean(true));
    emit(s.json(), "param " + std::to_string(a->id) + " set to " + std::to_string(a->value) + "\n",
         j);
  });
}

void add_aux_commands(CLI::App& parent, Cli& cli) {
  auto* aux = parent.add_subcommand("aux", "Auxiliary inputs: configuration and state");
  aux->require_subcommand(1);

  auto get_args = std::make_shared<AuxArgs>();
  auto* get = aux->add_subcommand("get", "Print the configuration of input ID");
  add_number(get, "id", get_args->id, "Input number")->required();
  on_run(get, cli, [a = get_args](Session& s) {
    nax_aux_input input{};
    check(nax_get_aux_input(s.link(), s.node(), a->id, &input), "nax_get_aux_input");
    auto fields = aux_fields(input);
    fields.insert(fields.begin(), {"input", std::to_string(a->id)});
    emit(s.json(), format_fields(fields), aux_to_json(a->id, input));
  });

  auto set_args = std::make_shared<AuxArgs>();
  auto* set = aux->add_subcommand(
      "set", "Change fields of input ID; the others keep the values the node has");
  add_number(set, "id", set_args->id, "Input number")->required();
  for (const auto& name : aux_field_names()) {
    std::string flag = "--" + name;
    for (char& c : flag) c = c == '_' ? '-' : c;
    const std::string help =
        name == "extra" ? "The 8 extra bytes as 16 hexadecimal digits" : "New " + name;
    set->add_option_function<std::string>(
        flag, [a = set_args, name](const std::string& v) { a->fields[name] = v; }, help);
  }
  set->add_flag("--no-read", set_args->no_read,
                "Do not read the input first: fields not given are sent as 0");
  on_run(set, cli, [a = set_args](Session& s) {
    nax_aux_input input{};
    if (!a->no_read) {
      check(nax_get_aux_input(s.link(), s.node(), a->id, &input), "nax_get_aux_input");
    }
    for (const auto& [name, value] : a->fields) set_aux_field(input, name, value);
    check(nax_set_aux_input(s.link(), s.node(), a->id, &input), "nax_set_aux_input");
    auto fields = aux_fields(input);
    fields.insert(fields.begin(), {"input", std::to_string(a->id)});
    emit(s.json(), "aux input " + std::to_string(a->id) + " set\n" + format_fields(fields),
         aux_to_json(a->id, input));
  });

  auto* state = aux->add_subcommand("state", "Print which inputs are active now");
  on_run(state, cli, [](Session& s) {
    uint32_t bits = 0;
    check(nax_state_aux_input(s.link(), s.node(), &bits), "nax_state_aux_input");
    Json active = Json::array();
    std::string list;
    for (uint32_t i = 0; i < 32; ++i) {
      if (!(bits & (1u << i))) continue;
      active.push(Json::number(i));
      list += (list.empty() ? "" : " ") + std::to_string(i);
    }
    Json j = Json::object();
    j.add("state", Json::number(bits)).add("active", active);
    emit(s.json(),
         format_fields({{"state", hex32(bits)}, {"active", list.empty() ? "none" : list}}), j);
  });
}

void add_relay_command(CLI::App& parent, Cli& cli) {
  auto args = std::make_shared<RelayArgs>();
  auto* relay = parent.add_subcommand("relay", "Drive relay ID with time mode MODE");
  add_number(relay, "id", args->id, "Relay number")->required();
  add_number(relay, "mode", args->mode, "Time mode, as the node understands it")->required();
  on_run(relay, cli, [a = args](Session& s) {
    check(nax_rele_control(s.link(), s.node(), a->id, a->mode), "nax_rele_control");
    Json j = Json::object();
    j.add("relay", Json::number(a->id)).add("mode", Json::number(a->mode));
    emit(s.json(),
         "relay " + std::to_string(a->id) + " driven with mode " + std::to_string(a->mode) + "\n",
         j);
  });
}

}  // namespace

void add_io_commands(CLI::App& parent, Cli& cli) {
  add_param_commands(parent, cli);
  add_aux_commands(parent, cli);
  add_relay_command(parent, cli);
}

}  // namespace naxctl
