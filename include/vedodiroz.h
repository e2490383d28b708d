/* vedodiroz: host-side library for access-control and time-and-attendance nodes.
 *
 * A host opens links to nodes (nax_open, or nax_listen and nax_accept for nodes
 * that connect in), calls one function per node command and is called back for
 * the events nodes report.  Each exported function has its comment block above
 * its prototype below; the manual pages are built from them.
 *
 * Conventions:
 * - Every function returns an unsigned 32-bit status: NAX_OK (1) on success,
 *   1000 to 1065 for the library's own failures (NAX_STATUS_LIST below), and any
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
 *   protocol 2 (the most a node accepts in one packet; nax_fopen alone takes
 *   names of up to 510 characters, 515 bytes with its flags).  Larger requests are
 *   refused with NAX_ERR_INVALID_ARG (1037) before anything is built or sent;
 *   answers announcing more records than the host's array holds never write
 *   past it.
 * - Callbacks run on the library's own threads (one reception thread per link,
 *   one listen thread).  Where a call would wait for the very thread it runs
 *   on, it is refused with NAX_ERR_OWN_THREAD (1065) and changes nothing:
 *   nax_close for a link from inside that link's user event or aux input
 *   callback, nax_close_listen from inside the listener's callback, and
 *   nax_uninit from inside any callback.  nax_close from the connection
 *   callback that reports the link's loss gets 1056: the library is closing
 *   that link already.  nax_answer_user_event and nax_answer_aux_input_event
 *   only send and may be called from inside the callbacks.
 * - Functions may be called from any thread once nax_init has returned.
 *   nax_init and nax_uninit must not race with any other call.  nax_uninit
 *   closes the links and the listener still open, each as nax_close and
 *   nax_close_listen would, and returns once their threads have ended.
 *   Closing one link from two threads at once closes it once: the other call
 *   gets 1056 or 1036.
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
 *   limit there.  Nodes that connect in can be bounded separately, see
 *   nax_set_listen_limits.
 *
 * Statuses every node command can return:
 * - Taking the link: 1034 library not initialised, 1059 link id 0 or never
 *   given, 1036 link freed or busy, 1056 link not open or accepted (a link from
 *   nax_listen must be claimed with nax_accept first).
 * - Arguments: 1037 a NULL record, a zero count or a request too large for one
 *   packet; 1038 a command the link's protocol does not have.
 * - The exchange: 1020 and 1021 sending failed or timed out, 1026 no answer
 *   within the receive time-out, 1024 the answer came from another node, 1028
 *   it answers another command, 1029 it is shorter than its fields, 1061 the
 *   connection closed, 1063 the node stopped answering keepalives.
 *
 * The node's own numbers (below 1000): protocol-2 nodes answer with a status
 * word that is passed on unchanged (1 done).  Protocol-1 nodes answer with a
 * result byte, passed on by the simple set-style commands, or with an error
 * byte that the library maps per command: 2 the node refused to set its clock;
 * 4, 5, 12, 16 a user list, add or delete refused (5 the user already exists,
 * 12 the user table is full, 4 a bad user record or list refused, 16 any other
 * refusal); 7 no users on the node; 8 no further records (users, marks; also
 * from protocol-2 lists); 10, 11, 12, 16 a template refused (10 no such
 * template, 11 nothing enrolled, 12 the sensor's store full or busy); 16 block
 * or flush refused; 18 a mark list refused; 21 no marks on the node; 31 a
 * schedule list page with more to come.  Each function's comment names the
 * numbers that command can give.
 */
#ifndef VEDODIROZ_H
#define VEDODIROZ_H

#include <stdint.h>

/* The version of this header, for tests at build time; nax_lib_version gives the
 * library's at run time.  NAX_VERSION_CHECK(1, 1, 0) is true for 1.1.0 and later. */
#define NAX_VERSION_MAJOR 1
#define NAX_VERSION_MINOR 1
#define NAX_VERSION_PATCH 13
#define NAX_VERSION_CHECK(major, minor, patch) \
  (NAX_VERSION_MAJOR > (major) ||              \
   (NAX_VERSION_MAJOR == (major) &&            \
    (NAX_VERSION_MINOR > (minor) ||            \
     (NAX_VERSION_MINOR == (minor) && NAX_VERSION_PATCH >= (patch)))))

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
  X(NAX_ERR_NODE_LOST, 1063, "the node stopped answering keepalives")                           \
  X(NAX_ERR_OWN_THREAD, 1065, "called from a callback whose thread the call would wait for")
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
/* Starts the library: opens the log and creates the link and listener registries.
 *
 * Arguments:
 * - log_path: file the log is appended to; NULL gives "zavidu.log" in the current
 *   directory.  The string is copied.
 * - log_level: 0 writes no log; 1 to 4 write ever more detail (4 adds hex dumps).
 *
 * Statuses:
 * - 1: started.
 * - 1031: already started (the first nax_init's settings stay).
 * - 1015, 1032, 1047, 1048: a registry, lock or the socket layer could not be set up.
 *
 * Threads: call once, before any other function but nax_set_keepalive, and not
 * while another thread calls into the library.
 */
NAX_API uint32_t NAX_CALL nax_init(const char* log_path, int32_t log_level);

/* Stops the library: closes the log and frees the link registry.
 *
 * The listener and every link still open are closed first, as nax_close_listen
 * and nax_close close them (no connection callback for them), and the call
 * returns once every thread of the library has ended, so that nothing is left
 * behind.  nax_init may be called again afterwards.
 *
 * Statuses:
 * - 1: stopped.
 * - 1034: the library was not started.
 * - 1065: called from inside a callback, whose thread it would wait for; nothing
 *   changes.
 *
 * Threads: not from a callback, and not while another thread calls into the library.
 */
NAX_API uint32_t NAX_CALL nax_uninit(void);

/* Copies the library's version text into the host's buffer.
 *
 * Arguments:
 * - buffer: host-owned, at least 7 bytes; receives "1.1.13" and its NUL.
 *
 * Returns buffer itself (not a status); NULL when buffer is NULL.  Works before nax_init.
 */
NAX_API char* NAX_CALL nax_lib_version(char* buffer);

/* Gives the English text of a status number.
 *
 * Arguments:
 * - status: any status a function returned.
 *
 * Returns a constant string owned by the library (never NULL, never to be freed):
 * the text of the library's statuses (1, 1000 to 1065), "unknown library status"
 * for other numbers from 1000, and "status reported by the node" below 1000: the
 * node's own numbers depend on the command (see each function's page).  Works before nax_init and
 * from any thread.
 */
NAX_API const char* NAX_CALL nax_status_text(uint32_t status);

/* Gives what a node's own status number means as the answer to one function.
 *
 * Arguments:
 * - function: the name of the function that returned the status, such as
 *   "nax_add_user".
 * - status: a status below 1000 that the function returned.
 *
 * Returns a constant English string owned by the library ("the user already
 * exists" for 5 from nax_add_user), or NULL when the library knows no meaning for
 * that number and function (then the number is the node's own, and NULL is also
 * given for 1, for statuses from 1000 and for a NULL function). The same table
 * serves every tool and binding, so that they all describe a refusal alike.
 * Works before nax_init and from any thread. An extension of this library.
 */
NAX_API const char* NAX_CALL nax_node_status_text(const char* function, uint32_t status);

/* ------------------------------------------------------------------------
 * Links
 * ---------------------------------------------------------------------- */
/* Opens a link to a node over TCP or a serial port and starts its reception thread.
 *
 * Arguments:
 * - status: out, must not be NULL; the status of the call (1 on success).
 * - source_node: the node number the library uses as sender on this link.
 * - packet_protocol: 1 or 2, the protocol the node speaks.
 * - conn: connection string, "device:parameter" or "device parameter":
 *   "192.0.2.10:3001" or "node7.example 3001" for TCP; "ttyS0:9600",
 *   "ttyUSB0:115200" or a device path such as "/dev/pts/3:19200" for a serial
 *   port at 9600, 19200, 38400, 57600 or 115200 baud (raw 8N1, no flow control).
 * - timeout: ms to wait for a TCP connection.
 * - callback_args: passed back as the first argument of every callback; the
 *   library keeps the pointer until the link is closed, the host keeps what it
 *   points to alive as long.
 * - callback_user, callback_aux_input, callback_conn: event callbacks, each may be
 *   NULL; they run on the link's reception thread.
 *
 * Returns the link id (1 and up), or 0 with *status saying why:
 * - 1034 not initialised; 1035 protocol not 1 or 2; 1001 malformed connection
 *   string.
 * - TCP: 1008 host not found, 1009 bad address, 1010 socket, 1011 or 1013
 *   connection refused or failed, 1014 no connection within timeout.
 * - Serial: 1002 port cannot be opened (also Windows names such as "COM3" on
 *   other systems), 1004 baud rate not accepted, 1005 settings not applied.
 * - 1000, 1007, 1015: memory, reception thread or locks.
 *
 * Threads: any thread; not from inside a callback of the link being opened.
 */
NAX_API uint32_t NAX_CALL nax_open(uint32_t* status, uint16_t source_node, uint8_t packet_protocol,
                                   const char* conn, uint32_t timeout, void* callback_args,
                                   nax_user_callback callback_user,
                                   nax_aux_input_callback callback_aux_input,
                                   nax_conn_callback callback_conn);

/* Closes a link: stops its reception thread, closes the connection and frees the id.
 *
 * Arguments:
 * - link_id: the link to close.
 *
 * A command running on the link at the same time ends with 1061.
 *
 * Statuses:
 * - 1: closed.
 * - 1034 not initialised; 1059 unknown link id; 1036 already freed.
 * - 1050: still held by another call; the link is freed when that call returns.
 * - 1051: still busy after three pauses.
 * - 1056: the link is being closed already, also from inside the connection
 *   callback that reports its loss.
 * - 1065: called from inside the same link's user event or aux input callback
 *   (the reception thread cannot wait for itself); nothing changes.
 *
 * Threads: any thread; from inside one of the same link's callbacks only as above.
 */
NAX_API uint32_t NAX_CALL nax_close(int32_t link_id);

/* Listens on a TCP port for nodes that connect in.
 *
 * Each node that connects becomes a new link waiting to be claimed (state
 * LINK_INCOMING); the connection callback is told its link id with state
 * NAX_CONN_CONNECTED.  Claim it with nax_accept before sending commands on it.
 *
 * Arguments:
 * - status: out, must not be NULL; 1 on success.
 * - port: TCP port, on every local IPv4 address.
 * - timeout: ms to keep retrying while the port is still in use.
 * - callback_args: first argument of the connection callback, kept until
 *   nax_close_listen.
 * - callback_conn: may be NULL; runs on the listen thread.
 *
 * Returns the listen id (always 1), or 0 with *status saying why: 1034 not
 * initialised, 1053 a listener exists already, 1010 socket, 1042 bind failed,
 * 1060 the port stayed in use for the whole timeout, 1041 or 1044 thread or
 * event not created.
 *
 * Threads: any thread; only one listener at a time.
 */
NAX_API uint32_t NAX_CALL nax_listen(uint32_t* status, uint16_t port, int32_t timeout,
                                     void* callback_args, nax_conn_callback callback_conn);

/* Stops listening.
 *
 * Links already created by the listener are not touched.
 *
 * Arguments:
 * - listen_id: the id nax_listen returned.
 *
 * Statuses: 1 stopped; 1034 not initialised; 1055 no such listener; 1030 the
 * listener had no socket.
 *
 * Threads: any thread, but not from inside the listener's connection callback.
 */
NAX_API uint32_t NAX_CALL nax_close_listen(int32_t listen_id);

/* Bounds the nodes that connect in and wait to be claimed.
 *
 * Each node that connects becomes an incoming link, with its own thread and
 * descriptors, until the host claims it with nax_accept or closes it.  While
 * max_unclaimed links wait to be claimed, further connections are closed at once
 * and logged; an incoming link not claimed within claim_timeout ms of its
 * connection is closed and freed, with no callback.  Keepalives, when enabled,
 * still close quiet unclaimed links earlier.
 *
 * Both bounds are off until set: an incoming link then waits to be claimed for
 * as long as its node stays connected.  Set them for a listener that untrusted
 * networks can reach, where anyone who reaches the port can open links.
 *
 * Arguments:
 * - max_unclaimed: links allowed to wait at once; 0 lifts the bound (the default).
 * - claim_timeout: ms an incoming link may wait; 0 lifts the bound (the default).
 *
 * Statuses: 1 stored; 1037 a negative value (nothing changes).
 *
 * Threads: any thread, at any time, before nax_init too.
 */
NAX_API uint32_t NAX_CALL nax_set_listen_limits(int32_t max_unclaimed, int32_t claim_timeout);

/* Claims a link that a node opened to the listener.
 *
 * The link gets its packet protocol, source node and receive time-out; then the
 * node is asked for its node number (numeric parameter 0), which must match the
 * wanted one.  On success the link serves commands (state LINK_ACCEPTED).
 *
 * Arguments:
 * - link_id: in and out, must not be NULL.  In: 0 to take any waiting link, or
 *   the one link to try.  Out: the claimed link's id (unchanged on failure).
 * - dest_node: in and out, must not be NULL.  In: 0 for any node, or the node
 *   number wanted.  Out: the number the node reported.
 * - port: in and out, must not be NULL.  In: 0 for any port, or only links that
 *   came in on this port.  Out: the port of the claimed link.
 * - packet_protocol: 1 or 2, for the link.
 * - source_node: the node number the library uses as sender on the link.
 * - accept_timeout: ms to keep looking for a waiting link when *link_id is 0
 *   (at least 200); with a given link id there is one attempt and no wait.
 * - rcv_timeout: the link's receive time-out in ms.
 *
 * Statuses:
 * - 1: a link was claimed.
 * - 1035: protocol not 1 or 2.
 * - 1059: the given id is beyond every link; when scanning, no waiting link was
 *   found before the time-out.
 * - 1036: no link in that slot, or it is busy; 1056: the link is not waiting to
 *   be claimed.
 * - 1058: the link came in on another port than the one given.
 * - 1057: the node could not be asked its number or reported another one (the
 *   link stays waiting and can be claimed later).
 *
 * Threads: any thread, also from the listener's connection callback.
 */
NAX_API uint32_t NAX_CALL nax_accept(uint32_t* link_id, uint16_t* dest_node, uint16_t* port,
                                     uint8_t packet_protocol, uint16_t source_node,
                                     uint32_t accept_timeout, int32_t rcv_timeout);

/* ------------------------------------------------------------------------
 * Per-link settings and keepalive
 * ---------------------------------------------------------------------- */
/* Sets the node number the library sends as on this link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the new source node; answers must be addressed to it.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_source_node(int32_t link_id, uint16_t node);

/* Sets the packet protocol of a link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - packet_protocol: 1 or 2.
 *
 * Also 1035 when the protocol is neither 1 nor 2 (the setting stays).
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_packet_protocol(int32_t link_id, uint8_t packet_protocol);

/* Gives the packet protocol of a link.
 *
 * Arguments:
 * - link_id: the link.
 *
 * Returns the protocol (1 or 2), or 0 when the link cannot be taken (not
 * initialised, unknown, freed, busy, or not open or accepted).  Not a status.
 */
NAX_API uint8_t NAX_CALL nax_get_packet_protocol(int32_t link_id);

/* Sets or clears the user event callback of a link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - callback: called on the reception thread for each user event; NULL clears it.
 *
 * The reception thread picks the change up for the next event.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_user_callback(int32_t link_id, nax_user_callback callback);

/* Sets or clears the aux input event callback of a link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - callback: called on the reception thread for each aux input event; NULL clears it.
 *
 * The reception thread picks the change up for the next event.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_aux_input_callback(int32_t link_id,
                                                     nax_aux_input_callback callback);

/* Sets or clears the connection callback of a link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - callback: told when the link is lost (NAX_CONN_LOST) or its node stops
 *   answering keepalives (NAX_CONN_NO_KEEPALIVE); NULL clears it.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_conn_callback(int32_t link_id, nax_conn_callback callback);

/* Sets the pointer passed as first argument to the link's callbacks.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - callback_args: kept by the library until the link is closed; the host keeps
 *   what it points to alive as long.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_callback_args(int32_t link_id, void* callback_args);

/* Sets how long a command waits for the node's answer on this link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - timeout: ms; 3000 after nax_open or nax_listen unless given otherwise.
 *
 * A command whose answer does not come within it returns 1026.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_rcv_timeout(int32_t link_id, int32_t timeout);

/* Sets how long sending a request may take on this link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - timeout: ms; a send that does not finish within it returns 1021.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_snd_timeout(int32_t link_id, int32_t timeout);

/* Sets the longest pause between two bytes of one frame on this link.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - timeout: ms; a frame that stalls longer is dropped and the assembler starts over.
 *
 * Statuses: 1 stored; 1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted (nothing changes then).
 */
NAX_API uint32_t NAX_CALL nax_set_interbyte_timeout(int32_t link_id, int32_t timeout);

/* Sets the keepalive of every link: how often a quiet link is probed and how many misses lose it.
 *
 * Arguments:
 * - timeout: ms of quiet after which a keepalive is sent; 0 disables keepalives.
 * - retries: keepalives in a row left unanswered before the link is declared lost
 *   (the connection callback gets NAX_CONN_NO_KEEPALIVE, waiting commands 1063).
 * - dest_node: node number the keepalives are addressed to.
 *
 * Statuses: 1 stored; 1031 when called after nax_init (nothing changes).
 *
 * Threads: only before nax_init.
 */
NAX_API uint32_t NAX_CALL nax_set_keepalive(int32_t timeout, int32_t retries, uint16_t dest_node);

/* ------------------------------------------------------------------------
 * Node commands.  Each takes the link id and the node number addressed.
 * ---------------------------------------------------------------------- */
/* Reads the node's clock.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - date_time: host-owned record, filled on success (two-digit year, weekday as
 *   the node counts).
 *
 * Statuses:
 * - 1: read.
 * - Any other number below 1000: the node's refusal (protocol 2 status word), the record untouched.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_get_time(int32_t link_id, uint16_t node, nax_date_time* date_time);

/* Sets the node's clock.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - date_time: host-owned record, read only.
 *
 * Statuses:
 * - 1: set.
 * - 2: protocol 1, the node refused to set its clock.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_set_time(int32_t link_id, uint16_t node,
                                       const nax_date_time* date_time);

/* Reads one of the node's numeric parameters.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - num_size: width in bytes, 1 or 2 (low byte used); other widths give 1037.
 * - num_id: parameter number (the numbering is the node's; 0 is its node number).
 * - num_val: out, host-owned; the value, 0 when refused.
 *
 * Statuses:
 * - 1: read.
 * - Any other number below 1000: the node's refusal (protocol 1 result byte or
 *   protocol 2 status word), e.g. an unknown parameter.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_get_num_cfg(int32_t link_id, uint16_t node, uint32_t num_size,
                                          uint16_t num_id, uint32_t* num_val);

/* Sets one of the node's numeric parameters.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - num_size: width in bytes, 1 or 2 (low byte used).
 * - num_id: parameter number.
 * - num_val: the new value.
 *
 * Statuses:
 * - 1: set.
 * - Any other number below 1000: the node's refusal (protocol 1 result byte or
 *   protocol 2 status word).
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_set_num_cfg(int32_t link_id, uint16_t node, uint32_t num_size,
                                          uint16_t num_id, int32_t num_val);

/* Reads the configuration of one aux input.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - input_id: the input's number.
 * - aux_input: out, host-owned record, filled on success.
 *
 * Statuses:
 * - 1: read.
 * - Any other number below 1000: the node's refusal, e.g. no such input.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_get_aux_input(int32_t link_id, uint16_t node, uint16_t input_id,
                                            nax_aux_input* aux_input);

/* Sets the configuration of one aux input.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - input_id: the input's number.
 * - aux_input: host-owned record, read only (24 bytes on the wire).
 *
 * Statuses:
 * - 1: set.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_set_aux_input(int32_t link_id, uint16_t node, uint16_t input_id,
                                            const nax_aux_input* aux_input);

/* Reads the state of every aux input as one bit mask.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - input_state: out, host-owned; bit n is input n.
 *
 * Statuses:
 * - 1: read.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_state_aux_input(int32_t link_id, uint16_t node,
                                              uint32_t* input_state);

/* Switches a relay.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - rele_id: the relay's number.
 * - time_mode: how long or how it switches (the node's coding).
 *
 * Statuses:
 * - 1: done.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_rele_control(int32_t link_id, uint16_t node, uint32_t rele_id,
                                           uint8_t time_mode);

/* Answers an aux input event; sends without waiting for a reply.
 *
 * May be called from inside the aux input callback.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - answer_code: the answer (the node's coding).
 *
 * Statuses:
 * - 1: sent.
 * - 1020, 1021: the frame could not be sent.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_answer_aux_input_event(int32_t link_id, uint16_t node,
                                                     uint8_t answer_code);

/* Reads a page of the node's users, from a given position.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - first_index: 0-based position of the first user wanted (low 16 bits used).
 * - count: capacity of users, in records; not 0.
 * - users: out, host-owned array of count records; each record's mask says
 *   which fields the node sent.
 * - stored: out, must not be NULL; records filled (protocol 1: at most one).
 *
 * Statuses:
 * - 1: a page read; ask again from first_index + *stored.
 * - 8: no further users (the records that came are stored).
 * - 7: protocol 1, no users on the node (first_index was 0).
 * - 4: protocol 1, the node refused the list.
 * - 1037: users or stored NULL, or count 0.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_list_users(int32_t link_id, uint16_t node, uint32_t first_index,
                                         uint16_t count, nax_user* users, uint16_t* stored);

/* Adds users to the node.
 *
 * Protocol 1 sends only the first record.  Protocol 2 sends the whole batch in one packet:
 * 4 bytes and the encoded records must fit 512.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - first_index: position of the first record of users to send (low 16 bits used).
 * - count: records to send (low 16 bits used); not 0.
 * - users: host-owned array; texts longer than 254 characters are cut in the
 *   host's record.
 * - taken: out, must not be NULL (1037); records the node took (protocol 1: 0 or 1).
 *
 * Statuses:
 * - 1: done; *taken says how many records the node took.
 * - 5: the user already exists.
 * - 12: the node's user table is full.
 * - 4: the node found the record bad.
 * - 8: no such user.
 * - 16: refused for another reason.
 * - Protocol 2: the node's status word, whatever it is; the same numbers in
 *   the simulator.
 * - 1037: users NULL, count 0, or the batch does not fit one packet.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_add_user(int32_t link_id, uint16_t node, uint32_t first_index,
                                       uint32_t count, nax_user* users, uint16_t* taken);

/* Changes fields of users already on the node; the mask of each record selects them.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - first_index: position of the first record of users to send (low 16 bits used).
 * - count: records to send; not 0.
 * - users: host-owned array.
 * - taken: out, must not be NULL (1037); records the node took.
 *
 * Statuses:
 * - 1: done.
 * - 1037: users NULL, count 0, or the batch does not fit one packet (512 bytes).
 * - Any other number below 1000: the node's refusal, e.g. 8 no such user.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_edit_user(int32_t link_id, uint16_t node, uint32_t first_index,
                                        uint16_t count, nax_user* users, uint16_t* taken);

/* Deletes users from the node, by id.
 *
 * Protocol 1 deletes only the first record.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - first_index: position of the first record of users to send (low 16 bits used).
 * - count: records to send; not 0.
 * - users: host-owned array; each record needs NAX_USER_ID in its mask.
 *   Protocol 2 reduces every record's mask to NAX_USER_ID in place.
 * - taken: out, must not be NULL (1037); records the node took.
 *
 * Statuses:
 * - 1: done; *taken says how many records the node took.
 * - 5: the user already exists.
 * - 12: the node's user table is full.
 * - 4: the node found the record bad.
 * - 8: no such user.
 * - 16: refused for another reason.
 * - Protocol 2: the node's status word, whatever it is; the same numbers in
 *   the simulator.
 * - 1037: users NULL, count 0, a mask without NAX_USER_ID, or the batch does not fit one packet.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_del_user(int32_t link_id, uint16_t node, uint32_t first_index,
                                       uint16_t count, nax_user* users, uint16_t* taken);

/* Adds one user with extra bytes after the user block (protocol 1 only).
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - user: host-owned record, read only; its mask needs NAX_USER_ID.
 * - unused: ignored.
 * - extra: host-owned bytes sent after the 16-byte user block.
 * - extra_count: how many; 16 + extra_count must fit 526.
 *
 * Statuses:
 * - 1: done; *taken says how many records the node took.
 * - 5: the user already exists.
 * - 12: the node's user table is full.
 * - 4: the node found the record bad.
 * - 8: no such user.
 * - 16: refused for another reason.
 * - 1037: user NULL, a protocol-2 link, no NAX_USER_ID, or too many extra bytes.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_add_user_in1(int32_t link_id, uint16_t node, const nax_user* user,
                                           uint32_t unused, const uint8_t* extra,
                                           uint32_t extra_count);

/* Reads a page of the node's attendance marks.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - first_index: 0-based position of the first mark wanted (low 16 bits used).
 * - count: capacity of marks, in records; not 0.
 * - marks: out, host-owned array; each record's mask says which fields came.
 * - stored: out, must not be NULL; records filled (protocol 1: at most one).
 *
 * Statuses:
 * - 1: a page read; ask again from first_index + *stored.
 * - 8: no further marks (the marks that came are stored).
 * - 21: protocol 1, no marks on the node (first_index was 0).
 * - 18: protocol 1, the node refused the list.
 * - 1037: marks or stored NULL, or count 0.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_list_marks(int32_t link_id, uint16_t node, uint32_t first_index,
                                         uint16_t count, nax_mark* marks, uint16_t* stored);

/* Asks the node an information query and copies its answer text.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - query: NUL-terminated query text (the node's vocabulary, e.g. "version");
 *   at most 511 characters.
 * - answer: out, host-owned, at least 512 bytes; a longer answer text is cut to
 *   511 characters.  Empty when the node sent no text.
 *
 * Statuses:
 * - 1: answered.
 * - 1037: query or answer NULL, or the query too long.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_get_info(int32_t link_id, uint16_t node, const char* query,
                                       char* answer);

/* Resets the node or one of its devices.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - device_id: which device (the node's numbering).
 * - sub_id: which part of it.
 *
 * Statuses:
 * - 1: done.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_reset_node(int32_t link_id, uint16_t node, int32_t device_id,
                                         int32_t sub_id);

/* Blocks or unblocks the node's readers.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - value: the block value (the node's coding; commonly 1 block, 0 unblock).
 *
 * Statuses:
 * - 1: done.
 * - 16: protocol 1, the node refused.
 * - 1037: protocol 1, the node called the value invalid.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_block_node(int32_t link_id, uint16_t node, uint8_t value);

/* Empties one of the node's tables.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - table_id: the table; protocol 1 knows 0 and 1 only (others give 1037) and
 *   sends the node's confirmation code with it.
 *
 * Statuses:
 * - 1: done.
 * - 16: protocol 1, the node refused.
 * - 1037: protocol 1, table_id above 1 or the node called it invalid.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_flush_table(int32_t link_id, uint16_t node, uint8_t table_id);

/* Deletes the oldest records of one of the node's tables.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - table_id: the table (low byte sent).
 * - count: records to delete.
 * - records_deleted: out, host-owned; records the node deleted.
 *
 * Statuses:
 * - 1: done.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_del_records(int32_t link_id, uint16_t node, uint32_t table_id,
                                          uint16_t count, uint16_t* records_deleted);

/* Reads the header of one schedule.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - schd_id: the schedule.
 * - header: out, host-owned; filled even by a refused answer's leading fields.
 *
 * Statuses:
 * - 1: read.
 * - 1037: header NULL.
 * - Any other number below 1000: the node's refusal, e.g. no such schedule.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_get_schd_header(int32_t link_id, uint16_t node, uint16_t schd_id,
                                              nax_schd_header* header);

/* Creates or changes the header of one schedule.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - header: host-owned; a name longer than 21 characters is cut in the host's record.
 *
 * Statuses:
 * - 1: stored.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_set_schd_header(int32_t link_id, uint16_t node,
                                              nax_schd_header* header);

/* Reads time segments of one schedule.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - schd_id: the schedule.
 * - segments: out, host-owned array of count segments (3 bytes apart).
 * - first_index: first segment wanted.
 * - count: capacity of segments; not 0.
 * - received: out, host-owned; segments stored.  At most count are stored,
 *   even when the node announces more.
 *
 * Statuses:
 * - 1: read.
 * - 1037: segments NULL or count 0.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_get_schd_segments(int32_t link_id, uint16_t node, uint16_t schd_id,
                                                nax_schd_segment* segments, uint32_t first_index,
                                                uint32_t count, uint32_t* received);

/* Writes time segments of one schedule.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - schd_id: the schedule.
 * - segments: host-owned array, read only.
 * - first_index: position of the first segment written.
 * - count: segments to write: at most 170 on a protocol-1 link, 166 on
 *   protocol 2 (14 + 3 x count bytes in one packet).
 * - count_out: out, host-owned; what the node reports stored.
 *
 * Statuses:
 * - 1: stored.
 * - 1037: segments NULL, count 0 or too many.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_set_schd_segments(int32_t link_id, uint16_t node, uint16_t schd_id,
                                                const nax_schd_segment* segments,
                                                uint32_t first_index, uint32_t count,
                                                uint32_t* count_out);

/* Deletes one schedule.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - schd_id: the schedule.
 *
 * Statuses:
 * - 1: deleted.
 * - Any other number below 1000: the node's refusal, e.g. no such schedule.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_del_schd(int32_t link_id, uint16_t node, uint16_t schd_id);

/* Reads a page of the node's schedule list.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - entries: out, host-owned array of capacity entries (24 bytes apart).
 * - start_id: in and out, must not be NULL; in: the first schedule id wanted;
 *   out: where the node says the next page starts.
 * - capacity: entries the array holds; not 0.
 * - received: out, host-owned; entries stored (at most capacity).
 *
 * Statuses:
 * - 1: a page read.
 * - 31: a page read and the node has more: ask again from *start_id.
 * - 1037: entries NULL or capacity 0.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_list_schd(int32_t link_id, uint16_t node, nax_schd_entry* entries,
                                        uint16_t* start_id, uint32_t capacity, uint32_t* received);

/* Reads one biometric template (384 bytes) from a sensor of the node.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - sensor_id: the sensor.
 * - access_id: the user's id.
 * - template_id: which of the user's templates.
 * - buffer: out, host-owned.
 * - capacity: bytes in buffer; at least 384 (else 1029).
 *
 * Statuses:
 * - 1: read; buffer holds the 384 bytes.
 * - 10: protocol 1, no such template.
 * - 11: protocol 1, nothing enrolled for that user or sensor.
 * - 12: protocol 1, the sensor's store is full or busy.
 * - 16: protocol 1, refused for another reason.
 * - 1039: the node's answer does not repeat the ids asked for.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_read_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                            uint32_t access_id, uint32_t template_id,
                                            uint8_t* buffer, uint32_t capacity);

/* Writes one biometric template to a sensor of the node.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - sensor_id: the sensor.
 * - access_id: the user's id.
 * - template_id: which of the user's templates.
 * - template_data: host-owned, read only.
 * - length: bytes in template_data; at most 384 (else 1037).
 *
 * Statuses:
 * - 1: written.
 * - 1039: the node's answer does not repeat the ids asked for.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_write_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                             uint32_t access_id, uint32_t template_id,
                                             const uint8_t* template_data, uint32_t length);

/* Deletes one biometric template.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - sensor_id: the sensor.
 * - access_id: the user's id.
 * - template_id: which template.
 *
 * Statuses:
 * - 1: deleted.
 * - 1039: the node's answer does not repeat the ids asked for.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_del_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                           uint32_t access_id, uint32_t template_id);

/* Deletes every template of one sensor.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - sensor_id: the sensor.
 *
 * Statuses:
 * - 1: done.
 * - 1039: the node's answer does not repeat the ids asked for.
 * - Any other number below 1000: protocol 2, the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_flush_templates(int32_t link_id, uint16_t node, uint16_t sensor_id);

/* Adds a task group.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - group: host-owned record; its mask_fields selects the fields sent; a name
 *   longer than 16 characters is cut in the host's record.
 *
 * Statuses:
 * - 1: added.
 * - 1037: group NULL or a protocol-1 link.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_add_task_group(int32_t link_id, uint16_t node, nax_task_group* group);

/* Adds a task item to a task group.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - group_id: the group (low byte sent).
 * - item: host-owned record; its mask_fields selects the fields sent; texts are
 *   cut to their fields in the host's record.
 *
 * Statuses:
 * - 1: added.
 * - 1037: item NULL or a protocol-1 link.
 * - Any other number below 1000: the node's refusal, e.g. no such group.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_add_task_item(int32_t link_id, uint16_t node, uint32_t group_id,
                                            nax_task_item* item);

/* Opens a file on the node for reading or writing.
 *
 * Files: one file is open per node at a time; nax_fopen, then nax_fread or
 * nax_fwrite in chunks, then nax_fclose.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - fname: NUL-terminated name, at most 507 characters.
 * - flags: open mode (the node's coding).
 * - fsize: out, host-owned; the file's size.
 *
 * Statuses:
 * - 1: open.
 * - 1037: fname NULL or too long.
 * - Any other number below 1000: the node's refusal, e.g. no such file.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_fopen(int32_t link_id, uint16_t node, const char* fname,
                                    uint32_t flags, uint32_t* fsize);

/* Reads the next chunk of the open file.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - buffer: out, host-owned, len bytes.
 * - len: capacity of buffer.
 * - read_bytes: out, host-owned; bytes the node sent (0 at the end of the file).
 *
 * Statuses:
 * - 1: read.
 * - 1029: the node sent more than len bytes (nothing copied).
 * - 1037: buffer NULL.
 * - Any other number below 1000: the node's refusal, e.g. no file open.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_fread(int32_t link_id, uint16_t node, uint8_t* buffer, uint32_t len,
                                    uint32_t* read_bytes);

/* Writes the next chunk of the open file.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - data: host-owned, read only.
 * - len: at most 512 (one packet), else 1037.
 *
 * Statuses:
 * - 1: written.
 * - 1037: data NULL or len too large.
 * - Any other number below 1000: the node's refusal, e.g. no file open or the file too large.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_fwrite(int32_t link_id, uint16_t node, const uint8_t* data,
                                     uint32_t len);

/* Closes the open file and gives the node's CRC-32 of it.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - crc32: out, host-owned; written only on success.
 *
 * Statuses:
 * - 1: closed.
 * - Any other number below 1000: the node's refusal, e.g. no file open.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_fclose(int32_t link_id, uint16_t node, uint32_t* crc32);

/* Deletes a file on the node.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - fname: NUL-terminated name, at most 510 characters.
 *
 * Statuses:
 * - 1: deleted.
 * - 1037: fname NULL or too long.
 * - Any other number below 1000: the node's refusal, e.g. no such file.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_fdel(int32_t link_id, uint16_t node, const char* fname);

/* Answers a user event: tells the node what to do with the user; sends without waiting.
 *
 * May be called from inside the user event callback.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - answer: host-owned record, must not be NULL, read; its user.mask selects the user fields sent,
 *   user.st is the answer's status for the user; texts are cut to their fields in
 *   the host's record.  Protocol 1 sends a bare acknowledgement instead.
 *
 * Statuses:
 * - 1: sent.
 * - 1037: protocol 2 and the encoded answer (date-time, user
 *   record, print flag, aux texts) does not fit 512 bytes.
 * - 1020, 1021: the frame could not be sent.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_answer_user_event(int32_t link_id, uint16_t node,
                                                nax_user_event_answer* answer);

/* Shows messages on the node's display.
 *
 * Protocol 2 only: on a protocol-1 link it returns 1038 and sends nothing.
 *
 * Arguments:
 * - link_id: a link from nax_open or claimed with nax_accept.
 * - node: the node number addressed (0 to 65535).
 * - count: messages to send: 1 to 8 (6 + 58 x count bytes fit one packet).
 * - messages: host-owned array, 58 bytes apart; texts cut to their fields in the host's record.
 * - timer: how long the messages stay (the node's coding).
 * - answer: out, host-owned; the node's answer word.
 *
 * Statuses:
 * - 1: shown.
 * - 1037: messages NULL, count 0 or above 8.
 * - Any other number below 1000: the node's refusal.
 * Also the link statuses (1034 not initialised, 1059 unknown link id, 1036 link
 * freed or busy, 1056 link not open or accepted) and the exchange statuses (1020,
 * 1021, 1024, 1026, 1028, 1029, 1061, 1063); see vedodiroz(3).
 *
 * Threads: any thread; calls on one link are carried out one at a time.
 */
NAX_API uint32_t NAX_CALL nax_display_msg(int32_t link_id, uint16_t node, uint16_t count,
                                          nax_display_message* messages, int32_t timer,
                                          uint16_t* answer);

#ifdef __cplusplus
}
#endif

#endif /* VEDODIROZ_H */
