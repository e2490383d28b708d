/* vedodiroz: host-side communication library for access-control and
 * time-and-attendance nodes.
 *
 * Conventions
 * - Every function returns an unsigned 32-bit status: NAX_OK (1) on success,
 *   1000..1063 for the library's own failures (NAX_STATUS_LIST below), and any
 *   other value as the node's own verdict, passed through.  Exceptions:
 *   nax_lib_version (returns its buffer), nax_get_packet_protocol (returns the
 *   protocol, 0 when the link cannot be taken), nax_open and nax_listen (return
 *   an id and write the status through their first argument).
 * - The host owns every record and buffer.  The library reads or fills them
 *   during the call and keeps no pointer to them, except the callbacks and
 *   their argument, which a link keeps until it is closed.
 * - Records are plain C structs with natural alignment; arrays of them are
 *   indexed by that layout.  Texts are NUL-terminated.
 * - Where a text must be shortened to fit its wire field, the cut is made in
 *   the host's record (a NUL at the field's last byte).  Functions that may do
 *   so take a non-const pointer.
 * - A request carries at most 526 data bytes on a protocol-1 link and 512 on
 *   protocol 2 (the most a node accepts in one packet).  Larger requests are
 *   refused with NAX_ERR_INVALID_ARG (1037) before anything is built or sent;
 *   answers announcing more records than the host's array holds never write
 *   past it.
 * - Callbacks run on the library's own threads (one reception thread per link,
 *   one listen thread).  Do not call nax_close for a link from inside one of
 *   that link's callbacks.  nax_answer_user_event and
 *   nax_answer_aux_input_event only send and may be called from inside them.
 * - Functions may be called from any thread once nax_init has returned.
 *   nax_init and nax_uninit must not race with any other call.
 * - Capacity.  Each link costs one library thread (its reception thread),
 *   its descriptors and about 10 KiB of resident memory.  On Linux a TCP
 *   link holds one descriptor (its socket), a serial link two (its port and
 *   the event that stops its thread), and each reserves a thread stack of
 *   RLIMIT_STACK (8 MiB of address space by default, barely touched).  10,000
 *   links fit one 64-bit process once the host has raised what the library
 *   does not raise itself: RLIMIT_NOFILE (ulimit -n) above one descriptor per
 *   TCP link plus its own,
 *   RLIMIT_NPROC (ulimit -u, it counts threads), and, machine-wide,
 *   kernel.threads-max, kernel.pid_max (threads take ids too) and
 *   vm.max_map_count (two mappings per thread stack).  On 32-bit Windows the
 *   bound is the 2 GiB address space, in which every link reserves its
 *   thread's stack (the host executable's default reserve, commonly 1 MiB):
 *   about 1,500 links per process, more when the host is large-address-
 *   aware; descriptors (a socket and a few event handles per link) are no
 *   limit there.  Nodes that connect in are bounded separately, see
 *   nax_set_listen_limits.
 */
#ifndef VEDODIROZ_H
#define VEDODIROZ_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* NAX_CALL is the calling convention of every exported function and every
 * callback: __stdcall on 32-bit Windows (what C#, Delphi and VB callers assume
 * by default), the platform's default elsewhere.  NAX_API marks the exported
 * functions; a host linking the static library on Windows defines NAX_STATIC
 * (the CMake target vedodiroz::static does) so that it gets no dllimport. */
#if defined(_WIN32) && !defined(_WIN64)
#define NAX_CALL __stdcall
#else
#define NAX_CALL
#endif
#if defined(_WIN32)
#if defined(NAX_BUILDING_LIBRARY)
#define NAX_API __declspec(dllexport)
#elif defined(NAX_STATIC)
#define NAX_API
#else
#define NAX_API __declspec(dllimport)
#endif
#else
#define NAX_API __attribute__((visibility("default")))
#endif

/* ------------------------------------------------------------------------
 * Status numbers.  One table: the constants below and nax_status_text are
 * both generated from it.
 * ---------------------------------------------------------------------- */
/* clang-format off */
#define NAX_STATUS_LIST(X)                                                                        \
  X(NAX_OK, 1, "success")                                                                         \
  X(NAX_ERR_NO_MEMORY, 1000, "memory could not be allocated")                                     \
  X(NAX_ERR_BAD_CONN_STRING, 1001, "connection string missing, without separator, or parameter not all digits") \
  X(NAX_ERR_SERIAL_OPEN, 1002, "serial port name not allocated, or the port cannot be opened")    \
  X(NAX_ERR_BAD_BAUD_RATE, 1004, "baud rate not one of 9600, 19200, 38400, 57600, 115200")        \
  X(NAX_ERR_SERIAL_CONFIG, 1005, "serial port settings or time-outs could not be read or applied") \
  X(NAX_ERR_SERIAL_NOT_OPEN, 1006, "serial port not open")                                        \
  X(NAX_ERR_THREAD_START, 1007, "reception thread not started, or it did not signal within 10000 ms") \
  X(NAX_ERR_HOST_NOT_FOUND, 1008, "host name not resolved")                                       \
  X(NAX_ERR_BAD_ADDRESS, 1009, "not a valid dotted IPv4 address")                                 \
  X(NAX_ERR_SOCKET, 1010, "socket not created, or not switched to non-blocking")                  \
  X(NAX_ERR_CONNECT, 1011, "connect failed at once")                                              \
  X(NAX_ERR_SOCKET_ERROR_READ, 1012, "pending socket error could not be read")                    \
  X(NAX_ERR_CONN_REFUSED, 1013, "connection refused or failed")                                   \
  X(NAX_ERR_CONNECT_TIMEOUT, 1014, "no connection within the open time-out")                      \
  X(NAX_ERR_SYNC_CREATE, 1015, "mutex or event could not be created")                             \
  X(NAX_ERR_MUTEX_WAIT, 1016, "mutex missing, or waiting for it failed")                          \
  X(NAX_ERR_MUTEX_RELEASE, 1017, "releasing a mutex failed")                                      \
  X(NAX_ERR_SERIAL_WRITE_EVENT, 1018, "serial write: event could not be created")                 \
  X(NAX_ERR_SERIAL_WRITE_SHORT, 1019, "serial write: fewer bytes written than asked")             \
  X(NAX_ERR_IO, 1020, "I/O failed, or the socket was not ready after the wait")                   \
  X(NAX_ERR_TIMEOUT, 1021, "time-out on send or receive")                                         \
  X(NAX_ERR_SERIAL_READ_EVENT, 1022, "serial read: event could not be created")                   \
  X(NAX_ERR_SERIAL_READ_EMPTY, 1023, "serial read completed with no bytes")                       \
  X(NAX_ERR_OTHER_NODE, 1024, "the answer came from another node than the one addressed")         \
  X(NAX_ERR_EVENT_SET, 1025, "an event could not be set or reset")                                \
  X(NAX_ERR_NO_ANSWER, 1026, "no answer within the link's receive time-out")                      \
  X(NAX_ERR_ANSWER_WAIT, 1027, "waiting for the answer failed")                                   \
  X(NAX_ERR_OTHER_COMMAND, 1028, "the answer carries another command code than the request")      \
  X(NAX_ERR_SHORT_ANSWER, 1029, "answer shorter than its fields, or host buffer too small for it") \
  X(NAX_ERR_SOCKET_NOT_OPEN, 1030, "socket not open")                                             \
  X(NAX_ERR_ALREADY_INIT, 1031, "library already initialised")                                    \
  X(NAX_ERR_SOCKET_LAYER, 1032, "the socket layer did not start")                                 \
  X(NAX_ERR_NOT_INIT, 1034, "library not initialised")                                            \
  X(NAX_ERR_BAD_PROTOCOL, 1035, "packet protocol not 1 or 2")                                     \
  X(NAX_ERR_LINK_UNAVAILABLE, 1036, "link not available: freed, free pending, or busy")           \
  X(NAX_ERR_INVALID_ARG, 1037, "invalid argument")                                                \
  X(NAX_ERR_WRONG_PROTOCOL, 1038, "command not available in the link's packet protocol")          \
  X(NAX_ERR_ECHO_MISMATCH, 1039, "the node's answer does not repeat the request's identifiers")   \
  X(NAX_ERR_THREAD_WAIT, 1040, "waiting for a thread to end failed")                              \
  X(NAX_ERR_LISTEN_THREAD, 1041, "listen thread not started")                                     \
  X(NAX_ERR_BIND, 1042, "bind failed for another reason than the port being in use")              \
  X(NAX_ERR_NO_CONN_CALLBACK, 1043, "a node connected but no connection callback was given")      \
  X(NAX_ERR_LISTEN_EVENT, 1044, "the listener's stop event could not be created")                 \
  X(NAX_ERR_ACCEPT_FAILED, 1045, "accepting a connection failed")                                 \
  X(NAX_ERR_LISTEN_WAIT, 1046, "waiting for a connection failed")                                 \
  X(NAX_ERR_NO_REGISTRY, 1047, "link registry not created")                                       \
  X(NAX_ERR_REGISTRY_EXISTS, 1048, "link registry already exists")                                \
  X(NAX_ERR_SLOT_IN_USE, 1049, "the slot chosen for a new link is in use")                        \
  X(NAX_ERR_LINK_HELD, 1050, "link still held; freed when its last holder releases it")           \
  X(NAX_ERR_LINK_BUSY, 1051, "link still busy after three pauses")                                \
  X(NAX_ERR_LISTENER_EXISTS, 1053, "a listener exists already")                                   \
  X(NAX_ERR_NO_LISTENER, 1055, "no such listener")                                                \
  X(NAX_ERR_LINK_STATE, 1056, "link in a state that the operation does not accept")               \
  X(NAX_ERR_NODE_NUMBER, 1057, "the node could not be asked for its number, or reported another") \
  X(NAX_ERR_OTHER_PORT, 1058, "the node connected in on another port than the one given")         \
  X(NAX_ERR_NO_SUCH_LINK, 1059, "link id 0 or beyond every id given")                             \
  X(NAX_ERR_PORT_IN_USE, 1060, "the port stayed in use for the whole time-out")                   \
  X(NAX_ERR_CONN_CLOSED, 1061, "connection closed by the node, or the link is being closed")      \
  X(NAX_ERR_CONNECT_WAIT, 1062, "waiting for the connection failed")                              \
  X(NAX_ERR_NODE_LOST, 1063, "the node stopped answering keepalives")
/* clang-format on */

#define NAX_STATUS_ENUM_ITEM_(name, code, text) name = code,
enum nax_status_code { NAX_STATUS_LIST(NAX_STATUS_ENUM_ITEM_) };
#undef NAX_STATUS_ENUM_ITEM_

/* Link states (one bit each). */
enum nax_link_state {
  LINK_OPENING = 1,
  LINK_OPEN = 2,
  LINK_INCOMING = 4,
  LINK_ACCEPTED = 8,
  LINK_CLOSING = 16
};

/* Connection states given to the connection callback. */
enum nax_conn_state {
  NAX_CONN_CONNECTED = 1,   /* a node connected to the listener; its link id is given */
  NAX_CONN_LOST = 2,        /* the link was lost (connection closed or failed) */
  NAX_CONN_NO_KEEPALIVE = 3 /* the node stopped answering keepalives */
};

/* ------------------------------------------------------------------------
 * Host records
 * ---------------------------------------------------------------------- */

/* Seven bytes; two-digit year; weekday as the node counts it. */
typedef struct nax_date_time {
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
  uint8_t year;
  uint8_t month;
  uint8_t day;
  uint8_t weekday;
} nax_date_time;

typedef struct nax_user_event {
  uint32_t id;
  uint16_t index; /* 0-based */
  uint8_t event;
  uint8_t direction;
  nax_date_time time;
} nax_user_event;

typedef struct nax_aux_input_event {
  uint8_t aux_input;
  uint8_t aux_value;
  nax_date_time time;
} nax_aux_input_event;

typedef struct nax_aux_input {
  uint8_t invert_input;
  uint8_t ev_status;
  uint8_t time_on;
  uint8_t time_off;
  uint8_t ev_host;
  uint8_t ev_historic;
  int32_t ev_in_condition;
  int32_t ev_rele_condition;
  uint16_t schedule_id;
  uint8_t extra[8];
} nax_aux_input;

/* User mask bits. */
#define NAX_USER_ID 0x0001u
#define NAX_USER_PSW 0x0002u
#define NAX_USER_ST 0x0004u
#define NAX_USER_CTL 0x0008u
#define NAX_USER_PANIC 0x0010u
#define NAX_USER_BIO_COUNT 0x0020u
#define NAX_USER_BIO_LEVEL 0x0040u
#define NAX_USER_SEC_LEVEL 0x0080u
#define NAX_USER_TEXT1 0x0100u
#define NAX_USER_TEXT2 0x0200u
#define NAX_USER_SCHEDULE_ID 0x0800u
#define NAX_USER_ANTI_PASSBACK 0x1000u

/* Texts of up to 254 characters travel whole; a longer text is cut to 254
 * characters (in the host's record) because the length byte on the wire
 * counts at most 255 bytes including the NUL. */
typedef struct nax_user {
  uint32_t mask;
  uint32_t id;
  uint16_t psw;
  uint8_t st;
  uint16_t ctl;
  uint8_t panic;
  uint8_t bio_count;
  uint8_t bio_level;
  uint8_t sec_level;
  char text1[256];
  char text2[256];
  uint8_t reserved[22];
  uint16_t schedule_id;
  uint8_t anti_passback;
} nax_user;

/* Mark mask bits. */
#define NAX_MARK_KIND 0x0001u
#define NAX_MARK_ID 0x0002u
#define NAX_MARK_DATE_TIME 0x0004u
#define NAX_MARK_EVENT 0x0008u
#define NAX_MARK_INDEX 0x0010u
#define NAX_MARK_DIRECTION 0x0020u
#define NAX_MARK_VALUE 0x0040u
#define NAX_MARK_FLAG 0x0080u
#define NAX_MARK_CODE 0x0100u

typedef struct nax_mark {
  uint32_t mask;
  uint8_t kind;
  uint32_t id;
  nax_date_time date_time;
  uint8_t event;
  uint16_t index;
  uint8_t direction;
  uint32_t value;
  uint8_t flag;
  char code[11];
} nax_mark;

typedef struct nax_schd_header {
  uint16_t id;
  char name[22];
  uint32_t hours;
  uint32_t segments;
  nax_date_time date_time;
} nax_schd_header;

/* Packed: arrays of segments are 3 bytes apart. */
typedef struct nax_schd_segment {
  uint8_t hours;
  uint8_t minutes;
  uint8_t enabled;
} nax_schd_segment;

/* Arrays of entries are 24 bytes apart. */
typedef struct nax_schd_entry {
  uint16_t id;
  char name[22];
} nax_schd_entry;

typedef struct nax_task_group {
  uint16_t mask_fields;
  uint8_t id;
  char name[17];
  uint8_t items;
} nax_task_group;

typedef struct nax_task_item {
  uint16_t mask_fields;
  uint8_t type;
  uint8_t id;
  char name[17];
  char job_order[10];
} nax_task_item;

typedef struct nax_user_event_answer {
  nax_date_time date_time;
  nax_user user; /* its mask selects the fields sent; st is the answer's status */
  uint8_t print_enable;
  char aux0[45];
  char aux1[45];
  char aux2[45];
  char aux3[45];
  char aux4[45];
  char aux5[45];
  char aux6[45];
  char aux7[45];
  char aux8[45];
  char aux9[45];
} nax_user_event_answer;

/* Arrays of messages are 58 bytes apart. */
typedef struct nax_display_message {
  uint16_t line;
  uint16_t pos;
  uint8_t cmd_line;
  uint8_t cmd_pos;
  uint16_t font;
  char data[50];
} nax_display_message;

/* ------------------------------------------------------------------------
 * Callbacks.  Records passed to them are valid only during the call.
 * ---------------------------------------------------------------------- */
typedef void(NAX_CALL* nax_user_callback)(void* callback_args, int32_t link_id, uint32_t node,
                                          nax_user_event* event);
typedef void(NAX_CALL* nax_aux_input_callback)(void* callback_args, int32_t link_id, uint32_t node,
                                               nax_aux_input_event* event);
typedef void(NAX_CALL* nax_conn_callback)(void* callback_args, int32_t link_id,
                                          uint32_t conn_state);

/* ------------------------------------------------------------------------
 * Lifecycle
 * ---------------------------------------------------------------------- */
/* log_path null: "zavidu.log" in the current directory.  log_level 0: no log. */
NAX_API uint32_t NAX_CALL nax_init(const char* log_path, int32_t log_level);
NAX_API uint32_t NAX_CALL nax_uninit(void);
/* Copies the version ("1.1.13", 7 bytes with the NUL) into buffer; returns buffer. */
NAX_API char* NAX_CALL nax_lib_version(char* buffer);
/* Constant English text for a status number; node statuses get a generic text. */
NAX_API const char* NAX_CALL nax_status_text(uint32_t status);

/* ------------------------------------------------------------------------
 * Links
 * ---------------------------------------------------------------------- */
/* conn: "host:port", "a.b.c.d port", "ttyS0:9600", "/dev/pts/3:115200".
 * Returns the link id, or 0 with *status saying why. */
NAX_API uint32_t NAX_CALL nax_open(uint32_t* status, uint16_t source_node, uint8_t packet_protocol,
                                   const char* conn, uint32_t timeout, void* callback_args,
                                   nax_user_callback callback_user,
                                   nax_aux_input_callback callback_aux_input,
                                   nax_conn_callback callback_conn);
NAX_API uint32_t NAX_CALL nax_close(int32_t link_id);

NAX_API uint32_t NAX_CALL nax_listen(uint32_t* status, uint16_t port, int32_t timeout,
                                     void* callback_args, nax_conn_callback callback_conn);
NAX_API uint32_t NAX_CALL nax_close_listen(int32_t listen_id);
/* Bounds on nodes that connect in.  Each becomes an incoming link, with its
 * own thread and descriptors, until the host claims it with nax_accept or
 * closes it.  While max_unclaimed links wait to be claimed, further
 * connections are closed at once and logged; an incoming link not claimed
 * within claim_timeout ms of its connection is closed.  0 lifts either
 * bound.  Defaults: 1000 links, 60000 ms.  May be called at any time, before
 * nax_init too; a negative value returns NAX_ERR_INVALID_ARG and changes
 * nothing.  Keepalives, when enabled, still close quiet unclaimed links
 * earlier. */
NAX_API uint32_t NAX_CALL nax_set_listen_limits(int32_t max_unclaimed, int32_t claim_timeout);
NAX_API uint32_t NAX_CALL nax_accept(uint32_t* link_id, uint16_t* dest_node, uint16_t* port,
                                     uint8_t packet_protocol, uint16_t source_node,
                                     uint32_t accept_timeout, int32_t rcv_timeout);

/* ------------------------------------------------------------------------
 * Per-link settings and keepalive
 * ---------------------------------------------------------------------- */
NAX_API uint32_t NAX_CALL nax_set_source_node(int32_t link_id, uint16_t node);
NAX_API uint32_t NAX_CALL nax_set_packet_protocol(int32_t link_id, uint8_t packet_protocol);
NAX_API uint8_t NAX_CALL nax_get_packet_protocol(int32_t link_id);
NAX_API uint32_t NAX_CALL nax_set_user_callback(int32_t link_id, nax_user_callback callback);
NAX_API uint32_t NAX_CALL nax_set_aux_input_callback(int32_t link_id,
                                                     nax_aux_input_callback callback);
NAX_API uint32_t NAX_CALL nax_set_conn_callback(int32_t link_id, nax_conn_callback callback);
NAX_API uint32_t NAX_CALL nax_set_callback_args(int32_t link_id, void* callback_args);
NAX_API uint32_t NAX_CALL nax_set_rcv_timeout(int32_t link_id, int32_t timeout);
NAX_API uint32_t NAX_CALL nax_set_snd_timeout(int32_t link_id, int32_t timeout);
NAX_API uint32_t NAX_CALL nax_set_interbyte_timeout(int32_t link_id, int32_t timeout);
/* Only before nax_init; timeout 0 disables keepalives. */
NAX_API uint32_t NAX_CALL nax_set_keepalive(int32_t timeout, int32_t retries, uint16_t dest_node);

/* ------------------------------------------------------------------------
 * Node commands.  Each takes the link id and the node number addressed.
 * ---------------------------------------------------------------------- */
NAX_API uint32_t NAX_CALL nax_get_time(int32_t link_id, uint16_t node, nax_date_time* date_time);
NAX_API uint32_t NAX_CALL nax_set_time(int32_t link_id, uint16_t node,
                                       const nax_date_time* date_time);

NAX_API uint32_t NAX_CALL nax_get_num_cfg(int32_t link_id, uint16_t node, uint32_t num_size,
                                          uint16_t num_id, uint32_t* num_val);
NAX_API uint32_t NAX_CALL nax_set_num_cfg(int32_t link_id, uint16_t node, uint32_t num_size,
                                          uint16_t num_id, int32_t num_val);

NAX_API uint32_t NAX_CALL nax_get_aux_input(int32_t link_id, uint16_t node, uint16_t input_id,
                                            nax_aux_input* aux_input);
NAX_API uint32_t NAX_CALL nax_set_aux_input(int32_t link_id, uint16_t node, uint16_t input_id,
                                            const nax_aux_input* aux_input);
NAX_API uint32_t NAX_CALL nax_state_aux_input(int32_t link_id, uint16_t node,
                                              uint32_t* input_state);
NAX_API uint32_t NAX_CALL nax_rele_control(int32_t link_id, uint16_t node, uint32_t rele_id,
                                           uint8_t time_mode);
NAX_API uint32_t NAX_CALL nax_answer_aux_input_event(int32_t link_id, uint16_t node,
                                                     uint8_t answer_code);

NAX_API uint32_t NAX_CALL nax_list_users(int32_t link_id, uint16_t node, uint32_t first_index,
                                         uint16_t count, nax_user* users, uint16_t* stored);
/* Protocol 2 sends the whole batch in one packet: 4 bytes and the encoded records
 * must fit 512, else NAX_ERR_INVALID_ARG (add, edit and delete alike). */
NAX_API uint32_t NAX_CALL nax_add_user(int32_t link_id, uint16_t node, uint32_t first_index,
                                       uint32_t count, nax_user* users, uint16_t* taken);
NAX_API uint32_t NAX_CALL nax_edit_user(int32_t link_id, uint16_t node, uint32_t first_index,
                                        uint16_t count, nax_user* users, uint16_t* taken);
/* Protocol 2 reduces every record's mask to NAX_USER_ID in place. */
NAX_API uint32_t NAX_CALL nax_del_user(int32_t link_id, uint16_t node, uint32_t first_index,
                                       uint16_t count, nax_user* users, uint16_t* taken);
NAX_API uint32_t NAX_CALL nax_add_user_in1(int32_t link_id, uint16_t node, const nax_user* user,
                                           uint32_t unused, const uint8_t* extra,
                                           uint32_t extra_count);

NAX_API uint32_t NAX_CALL nax_list_marks(int32_t link_id, uint16_t node, uint32_t first_index,
                                         uint16_t count, nax_mark* marks, uint16_t* stored);

/* answer must hold 512 bytes; a longer answer text is cut to 511 characters. */
NAX_API uint32_t NAX_CALL nax_get_info(int32_t link_id, uint16_t node, const char* query,
                                       char* answer);
NAX_API uint32_t NAX_CALL nax_reset_node(int32_t link_id, uint16_t node, int32_t device_id,
                                         int32_t sub_id);
NAX_API uint32_t NAX_CALL nax_block_node(int32_t link_id, uint16_t node, uint8_t value);
NAX_API uint32_t NAX_CALL nax_flush_table(int32_t link_id, uint16_t node, uint8_t table_id);
NAX_API uint32_t NAX_CALL nax_del_records(int32_t link_id, uint16_t node, uint32_t table_id,
                                          uint16_t count, uint16_t* records_deleted);

NAX_API uint32_t NAX_CALL nax_get_schd_header(int32_t link_id, uint16_t node, uint16_t schd_id,
                                              nax_schd_header* header);
NAX_API uint32_t NAX_CALL nax_set_schd_header(int32_t link_id, uint16_t node,
                                              nax_schd_header* header);
/* Stores at most count segments, even when the node announces more. */
NAX_API uint32_t NAX_CALL nax_get_schd_segments(int32_t link_id, uint16_t node, uint16_t schd_id,
                                                nax_schd_segment* segments, uint32_t first_index,
                                                uint32_t count, uint32_t* received);
/* At most 170 segments on a protocol-1 link and 166 on protocol 2 (14 + 3 x count
 * bytes in one packet); more gives NAX_ERR_INVALID_ARG. */
NAX_API uint32_t NAX_CALL nax_set_schd_segments(int32_t link_id, uint16_t node, uint16_t schd_id,
                                                const nax_schd_segment* segments,
                                                uint32_t first_index, uint32_t count,
                                                uint32_t* count_out);
NAX_API uint32_t NAX_CALL nax_del_schd(int32_t link_id, uint16_t node, uint16_t schd_id);
NAX_API uint32_t NAX_CALL nax_list_schd(int32_t link_id, uint16_t node, nax_schd_entry* entries,
                                        uint16_t* start_id, uint32_t capacity, uint32_t* received);

NAX_API uint32_t NAX_CALL nax_read_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                            uint32_t access_id, uint32_t template_id,
                                            uint8_t* buffer, uint32_t capacity);
NAX_API uint32_t NAX_CALL nax_write_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                             uint32_t access_id, uint32_t template_id,
                                             const uint8_t* template_data, uint32_t length);
NAX_API uint32_t NAX_CALL nax_del_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                           uint32_t access_id, uint32_t template_id);
NAX_API uint32_t NAX_CALL nax_flush_templates(int32_t link_id, uint16_t node, uint16_t sensor_id);

NAX_API uint32_t NAX_CALL nax_add_task_group(int32_t link_id, uint16_t node, nax_task_group* group);
NAX_API uint32_t NAX_CALL nax_add_task_item(int32_t link_id, uint16_t node, uint32_t group_id,
                                            nax_task_item* item);

/* fname at most 507 characters (4 flag bytes, name and NUL fit one packet), else
 * NAX_ERR_INVALID_ARG. */
NAX_API uint32_t NAX_CALL nax_fopen(int32_t link_id, uint16_t node, const char* fname,
                                    uint32_t flags, uint32_t* fsize);
NAX_API uint32_t NAX_CALL nax_fread(int32_t link_id, uint16_t node, uint8_t* buffer, uint32_t len,
                                    uint32_t* read_bytes);
/* len at most 512 (one packet), else NAX_ERR_INVALID_ARG. */
NAX_API uint32_t NAX_CALL nax_fwrite(int32_t link_id, uint16_t node, const uint8_t* data,
                                     uint32_t len);
NAX_API uint32_t NAX_CALL nax_fclose(int32_t link_id, uint16_t node, uint32_t* crc32);
/* fname at most 510 characters, else NAX_ERR_INVALID_ARG. */
NAX_API uint32_t NAX_CALL nax_fdel(int32_t link_id, uint16_t node, const char* fname);

/* Protocol 2: the encoded answer (date-time, user record, print flag, aux texts)
 * must fit 512 bytes, else NAX_ERR_INVALID_ARG. */
NAX_API uint32_t NAX_CALL nax_answer_user_event(int32_t link_id, uint16_t node,
                                                nax_user_event_answer* answer);
/* At most 8 messages per call (6 + 58 x count bytes fit one packet). */
NAX_API uint32_t NAX_CALL nax_display_msg(int32_t link_id, uint16_t node, uint16_t count,
                                          nax_display_message* messages, int32_t timer,
                                          uint16_t* answer);

#ifdef __cplusplus
}
#endif

#endif /* VEDODIROZ_H */
