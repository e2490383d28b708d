// naxctl file get | put | delete: the node's file store, 512 bytes a request.
#include <cstdio>
#include <vector>

#include "commands.h"

namespace naxctl {

namespace {

// Open flags as nodes take them.
constexpr uint32_t kOpenRead = 0;
constexpr uint32_t kOpenWrite = 1;  // creates the file, or empties it
// Nodes send no frame above 512 data bytes; chunks that size are safe both ways.
constexpr uint32_t kChunk = 512;

struct FileArgs {
  std::string remote;
  std::string local;
  bool no_verify = false;
  std::string data;  // put: the local file, read before the link is opened
};

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

// Leaves the node's open file closed after a failed transfer; its own failure is not news.
void close_quietly(Session& s) {
  uint32_t crc = 0;
  nax_fclose(s.link(), s.node(), &crc);
}

void verify(const FileArgs& a, uint32_t node_crc, uint32_t local_crc) {
  if (a.no_verify || node_crc == local_crc) return;
  throw InputError("CRC-32 differs: node " + hex32(node_crc) + ", local " + hex32(local_crc) +
                   " (--no-verify skips this check)");
}

Json transfer_json(const FileArgs& a, size_t size, uint32_t crc) {
  Json j = Json::object();
  j.add("remote", Json::string(a.remote)).add("local", Json::string(a.local));
  j.add("size", Json::number(static_cast<uint64_t>(size))).add("crc32", Json::string(hex32(crc)));
  return j;
}

void get_file(Session& s, const FileArgs& a) {
  uint32_t size = 0;
  check(nax_fopen(s.link(), s.node(), a.remote.c_str(), kOpenRead, &size), "nax_fopen");
  std::string data;
  data.reserve(size);
  std::vector<uint8_t> chunk(kChunk);
  Progress progress("get " + a.remote, size);
  while (data.size() < size) {
    uint32_t got = 0;
    const uint32_t st = nax_fread(s.link(), s.node(), chunk.data(), kChunk, &got);
    if (st != NAX_OK) {
      close_quietly(s);
      throw NaxError("nax_fread", st,
                     "at byte " + std::to_string(data.size()) + " of " + std::to_string(size));
    }
    if (got == 0) break;  // the file ended sooner than announced
    data.append(reinterpret_cast<const char*>(chunk.data()), got);
    progress.update(data.size());
  }
  progress.finish();
  uint32_t crc = 0;
  check(nax_fclose(s.link(), s.node(), &crc), "nax_fclose");
  verify(a, crc, crc32_of(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
  write_file(a.local, data);
  if (a.local == "-") return;
  emit(s.json(),
       a.remote + " -> " + a.local + ": " + std::to_string(data.size()) + " bytes, crc32 " +
           hex32(crc) + "\n",
       transfer_json(a, data.size(), crc));
}

void put_file(Session& s, const FileArgs& a) {
  const std::string& data = a.data;
  uint32_t size = 0;
  check(nax_fopen(s.link(), s.node(), a.remote.c_str(), kOpenWrite, &size), "nax_fopen");
  Progress progress("put " + a.remote, data.size());
  for (size_t done = 0; done < data.size();) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kChunk, data.size() - done));
    const uint32_t st =
        nax_fwrite(s.link(), s.node(), reinterpret_cast<const uint8_t*>(data.data()) + done, n);
    if (st != NAX_OK) {
      close_quietly(s);
      throw NaxError("nax_fwrite", st,
                     "at byte " + std::to_string(done) + " of " + std::to_string(data.size()));
    }
    done += n;
    progress.update(done);
  }
  progress.finish();
  uint32_t crc = 0;
  check(nax_fclose(s.link(), s.node(), &crc), "nax_fclose");
  verify(a, crc, crc32_of(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
  emit(s.json(),
       a.local + " -> " + a.remote + ": " + std::to_string(data.size()) + " bytes, crc32 " +
           hex32(crc) + "\n",
       transfer_json(a, data.size(), crc));
}

}  // namespace

void add_file_commands(CLI::App& parent, Cli& cli) {
  auto* file = parent.add_subcommand("file", "Files on the node (protocol 2)");
  file->require_subcommand(1);

  auto get_args = std::make_shared<FileArgs>();
  auto* get = file->add_subcommand("get", "Copy REMOTE from the node to LOCAL");
  get->add_option("remote", get_args->remote, "File name on the node")->required();
  get->add_option("local", get_args->local, "Local file (- = standard output)")->required();
  get->add_flag("--no-verify", get_args->no_verify,
                "Do not compare the node's CRC-32 with the data received");
  on_run(get, cli, [a = get_args](Session& s) { get_file(s, *a); });

  auto put_args = std::make_shared<FileArgs>();
  auto* put = file->add_subcommand("put", "Copy LOCAL to REMOTE on the node (replacing it)");
  put->add_option("local", put_args->local, "Local file (- = standard input)")->required();
  put->add_option("remote", put_args->remote, "File name on the node")->required();
  put->add_flag("--no-verify", put_args->no_verify,
                "Do not compare the node's CRC-32 with the data sent");
  on_run(
      put, cli, [a = put_args](Session& s) { put_file(s, *a); },
      [a = put_args] { a->data = read_file(a->local); });

  auto del_args = std::make_shared<FileArgs>();
  auto* del = file->add_subcommand("delete", "Delete REMOTE on the node");
  del->add_option("remote", del_args->remote, "File name on the node")->required();
  on_run(del, cli, [a = del_args](Session& s) {
    check(nax_fdel(s.link(), s.node(), a->remote.c_str()), "nax_fdel");
    Json j = Json::object();
    j.add("remote", Json::string(a->remote)).add("deleted", Json::boolean(true));
    emit(s.json(), a->remote + " deleted\n", j);
  });
}

}  // namespace naxctl
