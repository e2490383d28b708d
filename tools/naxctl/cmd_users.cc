// naxctl users: list, add, edit, delete, export and import the node's users.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "commands.h"

namespace naxctl {

namespace {

// Node verdicts the user commands report whichever protocol the link speaks.
constexpr uint32_t kNoFurtherRecords = 8;
constexpr uint32_t kNoRecordsAtAll = 7;  // protocol 1: the very first user is missing
constexpr uint32_t kUserExists = 5;

// Nodes take no frame above this many data bytes, so a batch stays within it.
constexpr size_t kMaxBatchBytes = 512;
constexpr size_t kBatchHeaderBytes = 4;
// Protocol 1 lists one user an answer; this bounds a node that never says "no more".
constexpr size_t kMaxP1Calls = 1000000;

size_t encoded_size(const nax_user& u) {
  size_t size = 2 + 4;
  const uint32_t m = u.mask;
  if (m & NAX_USER_ID) size += 4;
  if (m & NAX_USER_PSW) size += 2;
  if (m & NAX_USER_ST) size += 1;
  if (m & NAX_USER_CTL) size += 2;
  if (m & NAX_USER_PANIC) size += 1;
  if (m & NAX_USER_BIO_COUNT) size += 1;
  if (m & NAX_USER_BIO_LEVEL) size += 1;
  if (m & NAX_USER_SEC_LEVEL) size += 1;
  if (m & NAX_USER_TEXT1) size += 2 + strnlen(u.text1, sizeof u.text1);
  if (m & NAX_USER_TEXT2) size += 2 + strnlen(u.text2, sizeof u.text2);
  if (m & NAX_USER_SCHEDULE_ID) size += 2;
  if (m & NAX_USER_ANTI_PASSBACK) size += 1;
  return size;
}

// How many users from index `from` go into the next request.
size_t batch_size(const Session& s, const std::vector<nax_user>& users, size_t from) {
  if (s.protocol() == 1) return 1;
  size_t bytes = kBatchHeaderBytes;
  size_t n = 0;
  while (from + n < users.size()) {
    const size_t next = encoded_size(users[from + n]);
    if (n > 0 && bytes + next > kMaxBatchBytes) break;
    bytes += next;
    ++n;
  }
  return n;
}

std::vector<nax_user> list_users(Session& s, uint32_t first, uint16_t page) {
  std::vector<nax_user> out;
  Progress progress("users", 0);
  if (s.protocol() == 1) {
    // The node keeps the position: the first call starts over, every later one moves on.
    nax_user user{};
    for (size_t call = 0; call < kMaxP1Calls; ++call) {
      uint16_t stored = 0;
      const uint32_t st = nax_list_users(s.link(), s.node(), call == 0 ? 0 : 1, 1, &user, &stored);
      if (st == kNoFurtherRecords || st == kNoRecordsAtAll) break;
      check(st, "nax_list_users");
      if (stored == 1 && call >= first) out.push_back(user);
      progress.update(out.size());
    }
    return out;
  }
  std::vector<nax_user> buffer(page);
  for (uint32_t index = first; index <= 0xFFFF;) {
    uint16_t stored = 0;
    const uint32_t st = nax_list_users(s.link(), s.node(), index, page, buffer.data(), &stored);
    if (st != NAX_OK && st != kNoFurtherRecords) {
      throw NaxError("nax_list_users", st, "after " + std::to_string(out.size()) + " users");
    }
    out.insert(out.end(), buffer.begin(), buffer.begin() + stored);
    progress.update(out.size());
    if (st == kNoFurtherRecords || stored == 0) break;
    index += stored;
  }
  return out;
}

using BatchFn = uint32_t(NAX_CALL*)(int32_t, uint16_t, uint32_t, uint16_t, nax_user*, uint16_t*);

uint32_t NAX_CALL add_batch(int32_t link, uint16_t node, uint32_t first, uint16_t count,
                            nax_user* users, uint16_t* taken) {
  return nax_add_user(link, node, first, count, users, taken);
}

// Sends users[from..from+n) with fn; returns the node's verdict and how many it took.
uint32_t send_batch(Session& s, BatchFn fn, std::vector<nax_user>& users, size_t from, size_t n,
                    uint16_t& taken) {
  taken = 0;
  return fn(s.link(), s.node(), static_cast<uint32_t>(from), static_cast<uint16_t>(n),
            users.data() + from, &taken);
}

std::string user_detail(const std::vector<nax_user>& users, size_t failed, size_t done,
                        const char* verb) {
  return "user " + std::to_string(users[failed].id) + "; " + std::to_string(done) + " of " +
         count_of(users.size(), "user") + " " + verb;
}

// Sends every user, batch after batch; throws at the first refusal.
size_t send_all(Session& s, BatchFn fn, const char* function, const char* verb,
                std::vector<nax_user> users) {
  Progress progress(verb, users.size());
  size_t done = 0;
  while (done < users.size()) {
    const size_t n = batch_size(s, users, done);
    uint16_t taken = 0;
    const uint32_t st = send_batch(s, fn, users, done, n, taken);
    if (st != NAX_OK) {
      const size_t failed = done + std::min<size_t>(taken, n - 1);
      throw NaxError(function, st, user_detail(users, failed, failed, verb));
    }
    done += n;
    progress.update(done);
  }
  return users.size();
}

// Replaces a user the node already holds: edit in protocol 2; protocol 1 has no edit,
// so the old record goes and the new one is added.
void replace_user(Session& s, nax_user user) {
  uint16_t taken = 0;
  if (s.protocol() != 1) {
    check(nax_edit_user(s.link(), s.node(), 0, 1, &user, &taken), "nax_edit_user");
    return;
  }
  nax_user key{};
  key.mask = NAX_USER_ID;
  key.id = user.id;
  check(nax_del_user(s.link(), s.node(), 0, 1, &key, &taken), "nax_del_user");
  check(nax_add_user(s.link(), s.node(), 0, 1, &user, &taken), "nax_add_user");
}

struct UserArgs {
  std::map<std::string, std::string> fields;  // from --id, --psw, ...
  std::string file;
  std::vector<nax_user> users;   // read before the link is opened
  std::vector<std::string> ids;  // users delete --id
  uint32_t first = 0;
  uint16_t page = 16;
  std::string format;       // export: csv or json
  std::string list_format;  // list: table, csv or json
  std::string out;
};

// The users named on the command line: from --file, or one from the field flags.
std::vector<nax_user> given_users(const UserArgs& a) {
  if (!a.file.empty()) return users_from_document(read_file(a.file));
  nax_user user{};
  for (const auto& [name, value] : a.fields) set_user_field(user, name, value);
  return {user};
}

void add_field_flags(CLI::App* sub, const std::shared_ptr<UserArgs>& args, CLI::Option* file) {
  for (const auto& name : user_field_names()) {
    std::string flag = "--" + name;
    for (char& c : flag) c = c == '_' ? '-' : c;
    auto* opt = sub->add_option_function<std::string>(
        flag, [args, name](const std::string& v) { args->fields[name] = v; },
        name == "id" ? "User id (needed unless --file)" : "The user's " + name);
    opt->excludes(file);
  }
}

Json count_json(const char* key, size_t n) {
  Json j = Json::object();
  j.add(key, Json::number(static_cast<uint64_t>(n)));
  return j;
}

void add_list(CLI::App& users, Cli& cli) {
  auto args = std::make_shared<UserArgs>();
  auto* list = users.add_subcommand("list", "Print every user, fetched page by page");
  add_number(list, "--first", args->first, "Start at this index (0 = the first user)");
  add_number(list, "--page", args->page, "Users asked for in one request (protocol 2)")
      ->check(CLI::Range(1, 512));
  add_format_option(list, args->list_format);
  on_run(list, cli, [args](Session& s) {
    const auto all = list_users(s, args->first, args->page);
    switch (list_format(args->list_format, s.json())) {
      case ListFormat::Json: {
        Json j = Json::array();
        for (const auto& u : all) j.push(user_to_json(u));
        write_stdout((j.dump(2) + "\n"));
        break;
      }
      case ListFormat::Csv:
        write_stdout(users_to_csv(all));
        break;
      case ListFormat::Table:
        write_stdout((users_table(all) + count_of(all.size(), "user") + "\n"));
        break;
    }
  });

  auto* exp = users.add_subcommand("export", "Write every user as CSV or JSON");
  exp->add_option("--format", args->format, "csv (default) or json")
      ->check(CLI::IsMember({"csv", "json"}));
  exp->add_option("--out", args->out, "File to write (default: standard output)");
  on_run(exp, cli, [args](Session& s) {
    const auto all = list_users(s, 0, args->page);
    const std::string format = !args->format.empty() ? args->format : s.json() ? "json" : "csv";
    std::string text;
    if (format == "json") {
      Json j = Json::array();
      for (const auto& u : all) j.push(user_to_json(u));
      text = j.dump(2) + "\n";
    } else {
      text = users_to_csv(all);
    }
    write_file(args->out.empty() ? "-" : args->out, text);
  });
}

void add_change(CLI::App& users, Cli& cli, const char* name, const char* help, BatchFn fn,
                const char* function, const char* verb) {
  auto args = std::make_shared<UserArgs>();
  auto* sub = users.add_subcommand(name, help);
  auto* file = sub->add_option("--file", args->file, "Users from a CSV or JSON file (- = stdin)");
  add_field_flags(sub, args, file);
  on_run(
      sub, cli,
      [args, fn, function, verb](Session& s) {
        const size_t n = send_all(s, fn, function, verb, args->users);
        emit(s.json(), count_of(n, "user") + " " + verb + "\n", count_json(verb, n));
      },
      [args] {
        if (args->file.empty() && !args->fields.count("id")) {
          throw CLI::ValidationError("give --id and the fields to set, or --file");
        }
        args->users = given_users(*args);
      });
}

void add_delete(CLI::App& users, Cli& cli) {
  auto args = std::make_shared<UserArgs>();
  auto* del = users.add_subcommand("delete", "Delete users by id");
  auto* file = del->add_option("--file", args->file, "Ids from a CSV or JSON file of users");
  del->add_option("--id", args->ids, "User id; may be repeated")
      ->transform(number_for<uint32_t>())
      ->excludes(file);
  on_run(
      del, cli,
      [args](Session& s) {
        const size_t n = send_all(s, nax_del_user, "nax_del_user", "deleted", args->users);
        emit(s.json(), count_of(n, "user") + " deleted\n", count_json("deleted", n));
      },
      [args] {
        if (args->file.empty() && args->ids.empty()) {
          throw CLI::ValidationError("give --id (one or more) or --file");
        }
        std::vector<nax_user> given;
        if (!args->file.empty()) given = users_from_document(read_file(args->file));
        for (const auto& id : args->ids) {
          nax_user key{};
          set_user_field(key, "id", id);
          given.push_back(key);
        }
        for (const auto& u : given) {
          nax_user key{};
          key.mask = NAX_USER_ID;
          key.id = u.id;
          args->users.push_back(key);
        }
      });
}

void import_users(Session& s, std::vector<nax_user> all) {
  Progress progress("import", all.size());
  size_t added = 0, replaced = 0, done = 0;
  while (done < all.size()) {
    const size_t n = batch_size(s, all, done);
    uint16_t taken = 0;
    const uint32_t st = send_batch(s, add_batch, all, done, n, taken);
    if (st == NAX_OK) {
      added += n;
      done += n;
    } else if (st == kUserExists) {
      // The batch stopped at the user the node has; those before it were added.
      const size_t before = std::min<size_t>(taken, n - 1);
      added += before;
      done += before;
      try {
        replace_user(s, all[done]);
      } catch (const NaxError& e) {
        throw NaxError("nax_edit_user", e.status(),
                       user_detail(all, done, added + replaced, "imported"));
      }
      ++replaced;
      ++done;
    } else {
      const size_t failed = done + std::min<size_t>(taken, n - 1);
      throw NaxError("nax_add_user", st, user_detail(all, failed, added + replaced, "imported"));
    }
    progress.update(done);
  }
  Json j = Json::object();
  j.add("added", Json::number(static_cast<uint64_t>(added)));
  j.add("replaced", Json::number(static_cast<uint64_t>(replaced)));
  emit(s.json(), count_of(added, "user") + " added, " + std::to_string(replaced) + " replaced\n",
       j);
}

void add_import(CLI::App& users, Cli& cli) {
  auto args = std::make_shared<UserArgs>();
  auto* imp = users.add_subcommand(
      "import", "Add the users of a CSV or JSON file; users the node has already are replaced");
  imp->add_option("file", args->file, "CSV or JSON file (- = stdin)")->required();
  on_run(
      imp, cli, [args](Session& s) { import_users(s, args->users); },
      [args] { args->users = users_from_document(read_file(args->file)); });
}

}  // namespace

void add_user_commands(CLI::App& parent, Cli& cli) {
  auto* users = parent.add_subcommand("users", "The node's users");
  users->require_subcommand(1);
  add_list(*users, cli);
  add_change(*users, cli, "add", "Add users (from field flags or --file)", add_batch,
             "nax_add_user", "added");
  add_change(*users, cli, "edit", "Change users the node has (protocol 2)", nax_edit_user,
             "nax_edit_user", "edited");
  add_delete(*users, cli);
  add_import(*users, cli);
}

}  // namespace naxctl
