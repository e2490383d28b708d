// Reading naxgw.toml: every value is checked for type and range, unknown keys are refused
// (a misspelt key would otherwise be silently ignored), and every fault names its line.
#include "config.h"

#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

namespace naxgw {
namespace {

class Section {
 public:
  Section(const toml::table& table, std::string where, const std::string& path)
      : table_(table), where_(std::move(where)), path_(path) {}

  [[noreturn]] void fail(const toml::node* at, const std::string& reason) const {
    const int line = at ? static_cast<int>(at->source().begin.line) : 0;
    const int fallback = static_cast<int>(table_.source().begin.line);
    std::ostringstream out;
    out << path_ << ':' << (line > 0 ? line : fallback) << ": " << reason;
    throw ConfigError(out.str());
  }

  const toml::node* get(const std::string& key) {
    seen_.insert(key);
    return table_.get(key);
  }

  std::string name(const std::string& key) const {
    return where_.empty() ? key : where_ + "." + key;
  }

  void text(const std::string& key, std::string& out) {
    const toml::node* n = get(key);
    if (!n) return;
    const auto* s = n->as_string();
    if (!s) fail(n, name(key) + " must be a string");
    out = s->get();
    if (out.find('\0') != std::string::npos) fail(n, name(key) + " must not hold a NUL");
  }

  template <class T>
  void number(const std::string& key, T& out, int64_t min, int64_t max) {
    const toml::node* n = get(key);
    if (!n) return;
    const auto* i = n->as_integer();
    if (!i) fail(n, name(key) + " must be an integer");
    const int64_t v = i->get();
    if (v < min || v > max) {
      fail(n, name(key) + " must lie between " + std::to_string(min) + " and " +
                  std::to_string(max) + ", not " + std::to_string(v));
    }
    out = static_cast<T>(v);
  }

  void flag(const std::string& key, bool& out) {
    const toml::node* n = get(key);
    if (!n) return;
    const auto* b = n->as_boolean();
    if (!b) fail(n, name(key) + " must be true or false");
    out = b->get();
  }

  const toml::table* table(const std::string& key) {
    const toml::node* n = get(key);
    if (!n) return nullptr;
    const auto* t = n->as_table();
    if (!t) fail(n, name(key) + " must be a table");
    return t;
  }

  const toml::array* array_of_tables(const std::string& key) {
    const toml::node* n = get(key);
    if (!n) return nullptr;
    const auto* a = n->as_array();
    if (!a || !a->is_array_of_tables())
      fail(n, name(key) + " must be written [[" + name(key) + "]]");
    return a;
  }

  // Call after every key was read.
  void no_other_keys() const {
    for (const auto& [key, value] : table_) {
      const std::string k(key.str());
      if (!seen_.count(k)) fail(&value, "unknown key " + name(k));
    }
  }

  const toml::table& raw() const { return table_; }

 private:
  const toml::table& table_;
  std::string where_;
  const std::string& path_;
  std::set<std::string> seen_;
};

constexpr int64_t kU16 = 0xFFFF;

bool serial_device(const std::string& name) {
  auto starts = [&](const char* prefix) {
    return name.size() >= 3 && std::equal(prefix, prefix + 3, name.begin(), [](char a, char b) {
             return a == std::tolower(static_cast<unsigned char>(b));
           });
  };
  return starts("com") || starts("tty") || (!name.empty() && name[0] == '/');
}

// The library's form "DEVICE:NUMBER": a host and a port, or a serial device and a speed.
std::string connection_fault(const std::string& connection) {
  const std::size_t colon = connection.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == connection.size() ||
      connection.find_first_of(": ", colon + 1) != std::string::npos ||
      connection.find(' ') < colon) {
    return "must be HOST:PORT or DEVICE:SPEED";
  }
  const std::string number = connection.substr(colon + 1);
  if (number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) {
    return "must end in a number";
  }
  const long value = std::stol(number);
  if (!serial_device(connection.substr(0, colon))) {
    if (value < 1 || value > 65535) return "port " + number + " is not between 1 and 65535";
    return "";
  }
  static const std::set<long> speeds = {1200,  2400,   4800,   9600,   19200, 38400,
                                        57600, 115200, 230400, 460800, 921600};
  if (!speeds.count(value)) return "serial speed " + number + " is not a standard one";
  return "";
}

NodeConfig read_node(const toml::table& t, const std::string& where, const std::string& path,
                     bool connects_in) {
  Section s(t, where, path);
  NodeConfig node;
  node.line = static_cast<int>(t.source().begin.line);
  s.text("name", node.name);
  if (!connects_in) s.text("connection", node.connection);
  s.number("node", node.node, 0, kU16);
  if (!connects_in) {
    s.number("protocol", node.protocol, 1, 2);
    s.number("source_node", node.source_node, 0, kU16);
    s.number("timeout_ms", node.timeout_ms, 1, 600000);
  }
  s.flag("clock_sync", node.clock_sync);
  if (const toml::table* answer = s.table("answer")) {
    Section a(*answer, where + ".answer", path);
    AnswerConfig config;
    a.number("timeout_ms", config.timeout_ms, 0, 60000);
    a.number("st", config.st, 0, 0xFF);
    a.text("text1", config.text1);
    a.text("text2", config.text2);
    if (config.text1.size() > 254 || config.text2.size() > 254) {
      a.fail(answer, "answer texts hold at most 254 characters");
    }
    a.no_other_keys();
    node.answer = config;
  }
  s.no_other_keys();
  if (node.name.empty()) s.fail(&t, where + " needs a name");
  if (!valid_name(node.name)) {
    s.fail(t.get("name"),
           "node name \"" + node.name + "\" may hold only letters, digits, '-', '_' and '.'");
  }
  if (!connects_in && node.connection.empty()) {
    s.fail(&t, "node " + node.name + " needs a connection");
  }
  if (connects_in && !t.get("node")) s.fail(&t, "node " + node.name + " needs its node number");
  if (!connects_in) {
    const std::string fault = connection_fault(node.connection);
    if (!fault.empty()) {
      s.fail(t.get("connection"),
             "node " + node.name + ": connection \"" + node.connection + "\" " + fault);
    }
  }
  return node;
}

}  // namespace

bool valid_name(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

Config parse_config(const std::string& text, const std::string& path,
                    const std::vector<std::string>* known_commands) {
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    std::ostringstream out;
    out << path << ':' << e.source().begin.line << ": " << e.description();
    throw ConfigError(out.str());
  }

  Config config;
  Section top(root, "", path);

  if (const toml::table* t = top.table("mqtt")) {
    Section s(*t, "mqtt", path);
    MqttConfig& m = config.mqtt;
    s.text("host", m.host);
    s.number("port", m.port, 1, kU16);
    s.text("client_id", m.client_id);
    s.text("prefix", m.prefix);
    s.text("username", m.username);
    s.text("password", m.password);
    s.number("version", m.version, 4, 5);
    s.number("keepalive_s", m.keepalive_s, 5, 65535);
    s.text("ca_file", m.ca_file);
    s.text("cert_file", m.cert_file);
    s.text("key_file", m.key_file);
    s.number("max_queued", m.max_queued, 1, 100000000);
    s.number("stop_timeout_ms", m.stop_timeout_ms, 0, 600000);
    s.no_other_keys();
    if (const toml::node* p = t->get("password")) {
      config.password_line = static_cast<int>(p->source().begin.line);
    }
    if (m.host.empty()) s.fail(t->get("host"), "mqtt.host must not be empty");
    if (m.client_id.empty()) s.fail(t->get("client_id"), "mqtt.client_id must not be empty");
    if (m.prefix.empty() || m.prefix.find_first_of("#+") != std::string::npos ||
        m.prefix.front() == '/' || m.prefix.back() == '/') {
      s.fail(t->get("prefix"), "mqtt.prefix must be a topic without wildcards or outer '/'");
    }
    if (m.cert_file.empty() != m.key_file.empty()) {
      s.fail(t, "mqtt.cert_file and mqtt.key_file go together");
    }
    if (!m.cert_file.empty() && m.ca_file.empty()) s.fail(t, "mqtt.cert_file needs mqtt.ca_file");
  }

  if (const toml::table* t = top.table("gateway")) {
    Section s(*t, "gateway", path);
    GatewayConfig& g = config.gateway;
    s.text("name", g.name);
    s.number("keepalive_ms", g.keepalive_ms, 0, 600000);
    s.number("keepalive_retries", g.keepalive_retries, 1, 100);
    s.number("retry_min_ms", g.retry_min_ms, 10, 600000);
    s.number("retry_max_ms", g.retry_max_ms, 10, 3600000);
    s.number("check_ms", g.check_ms, 50, 600000);
    s.text("log_path", g.log_path);
    s.number("log_level", g.log_level, 0, 5);
    s.no_other_keys();
    if (!valid_name(g.name)) {
      s.fail(t->get("name"), "gateway.name may hold only letters, digits, '-', '_' and '.'");
    }
    if (g.retry_max_ms < g.retry_min_ms) {
      s.fail(t->get("retry_max_ms"), "gateway.retry_max_ms is below gateway.retry_min_ms");
    }
  }

  if (const toml::table* t = top.table("database")) {
    Section s(*t, "database", path);
    DatabaseConfig& d = config.database;
    d.path.clear();
    s.text("path", d.path);
    s.text("url", d.url);
    s.number("retry_max_ms", d.retry_max_ms, 100, 3600000);
    s.no_other_keys();
    if (d.path.empty() == d.url.empty()) {
      s.fail(t, "[database] takes exactly one of path (SQLite) and url (PostgreSQL)");
    }
    if (!d.url.empty() && d.url.rfind("postgresql://", 0) != 0 &&
        d.url.rfind("postgres://", 0) != 0) {
      s.fail(t->get("url"), "database.url must be a postgresql:// URI");
    }
    if (!d.url.empty() && d.url.find("password=") != std::string::npos) {
      config.password_line = static_cast<int>(t->get("url")->source().begin.line);
    }
  }

  if (const toml::table* t = top.table("commands")) {
    Section s(*t, "commands", path);
    const toml::node* n = s.get("allow");
    s.no_other_keys();
    if (n) {
      const toml::array* list = n->as_array();
      if (!list) s.fail(n, "commands.allow must be a list of command names");
      config.allow.emplace();
      for (const toml::node& item : *list) {
        const auto* name = item.as_string();
        if (!name) s.fail(&item, "commands.allow must be a list of command names");
        if (known_commands && std::find(known_commands->begin(), known_commands->end(),
                                        name->get()) == known_commands->end()) {
          s.fail(&item, "commands.allow names an unknown command \"" + name->get() + "\"");
        }
        config.allow->push_back(name->get());
      }
    }
  }

  if (const toml::table* t = top.table("marks")) {
    Section s(*t, "marks", path);
    MarksConfig& m = config.marks;
    s.number("interval_s", m.interval_s, 1, 86400);
    s.flag("delete_after_store", m.delete_after_store);
    s.number("table", m.table, 0, 0xFF);
    s.number("page", m.page, 1, 64);
    s.no_other_keys();
  }

  std::set<std::string> names{config.gateway.name};
  auto add_name = [&](const NodeConfig& node, const toml::node* at) {
    if (!names.insert(node.name).second) {
      top.fail(at, "name " + node.name + " is used twice (node and gateway names share topics)");
    }
  };

  if (const toml::array* nodes = top.array_of_tables("node")) {
    for (const toml::node& n : *nodes) {
      NodeConfig node = read_node(*n.as_table(), "node", path, false);
      if (node.protocol == 1 && config.marks.delete_after_store) {
        top.fail(&n, "node " + node.name +
                         ": protocol 1 can only flush the whole mark log, which could drop marks "
                         "taken after the download; marks.delete_after_store needs protocol 2");
      }
      add_name(node, &n);
      config.nodes.push_back(std::move(node));
    }
  }

  if (const toml::table* t = top.table("listener")) {
    Section s(*t, "listener", path);
    ListenerConfig l;
    s.number("port", l.port, 1, kU16);
    s.number("protocol", l.protocol, 1, 2);
    s.number("source_node", l.source_node, 0, kU16);
    s.number("timeout_ms", l.timeout_ms, 1, 600000);
    if (const toml::array* nodes = s.array_of_tables("node")) {
      std::set<uint16_t> numbers;
      for (const toml::node& n : *nodes) {
        NodeConfig node = read_node(*n.as_table(), "listener.node", path, true);
        node.protocol = l.protocol;
        node.source_node = l.source_node;
        node.timeout_ms = l.timeout_ms;
        if (!numbers.insert(node.node).second) {
          s.fail(&n, "listener node number " + std::to_string(node.node) + " is used twice");
        }
        add_name(node, &n);
        l.nodes.push_back(std::move(node));
      }
    }
    s.no_other_keys();
    if (!t->get("port")) s.fail(t, "listener needs a port");
    if (l.protocol == 1 && config.marks.delete_after_store) {
      s.fail(t, "marks.delete_after_store needs protocol 2 on the listener");
    }
    config.listener = std::move(l);
  }

  top.no_other_keys();
  config.path = path;
  if (config.nodes.empty() && (!config.listener || config.listener->nodes.empty())) {
    top.fail(nullptr, "no [[node]] and no [[listener.node]]: nothing to serve");
  }
  return config;
}

std::vector<std::string> check_environment(const Config& config) {
  std::vector<std::string> warnings;
  auto fail = [&](const std::string& reason) { throw ConfigError(config.path + ": " + reason); };
  const MqttConfig& m = config.mqtt;
  for (const auto& [key, file] : {std::pair<const char*, std::string>{"ca_file", m.ca_file},
                                  {"cert_file", m.cert_file},
                                  {"key_file", m.key_file}}) {
    if (!file.empty() && ::access(file.c_str(), R_OK) != 0) {
      fail(std::string("mqtt.") + key + " \"" + file + "\" cannot be read");
    }
  }
  if (config.database.url.empty()) {
    const std::string& db = config.database.path;
    const std::size_t slash = db.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : db.substr(0, slash + 1);
    if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
      fail("database.path: folder \"" + folder + "\" is missing or not writable");
    }
    if (::access(db.c_str(), F_OK) == 0 && ::access(db.c_str(), R_OK | W_OK) != 0) {
      fail("database.path \"" + db + "\" cannot be read and written");
    }
  }
  for (const NodeConfig& n : config.nodes) {
    const std::string device = n.connection.substr(0, n.connection.find(':'));
    if (!serial_device(device) || device.rfind("com", 0) == 0 || device.rfind("COM", 0) == 0) {
      continue;
    }
    const std::string file = device[0] == '/' ? device : "/dev/" + device;
    if (::access(file.c_str(), F_OK) != 0) {
      warnings.push_back("node " + n.name + ": device " + file + " does not exist (yet)");
    }
  }
  struct stat info {};
  if (config.password_line > 0 && ::stat(config.path.c_str(), &info) == 0 &&
      (info.st_mode & S_IROTH) != 0) {
    warnings.push_back(config.path + ":" + std::to_string(config.password_line) +
                       ": holds a password and other users can read the file (chmod o-r)");
  }
  return warnings;
}

Config load_config(const std::string& path, const std::vector<std::string>* known_commands) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ConfigError(path + ":0: cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return parse_config(text.str(), path, known_commands);
}

}  // namespace naxgw
